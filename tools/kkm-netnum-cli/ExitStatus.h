#pragma once
// The exit statuses of kkm-netnum-cli, one per outcome a script tells apart
// (the commands' own, such as commission's, sit with them), and the name the
// tool gives itself in its messages, the history and the locks.

namespace kkm::cli {

inline constexpr const char* kProgram = "kkm-netnum-cli";

inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortUnavailable = 3;
inline constexpr int kExitNoContact =
    4;  // no register or KIA answer, a failed read, a write failed at 1 or 6
inline constexpr int kExitWrongFirmware = 5;
inline constexpr int kExitPartlyWritten = 6;   // a write stopped at exchanges 2..5
inline constexpr int kExitMemoryChanged = 7;   // finish: the memory changed since; not finished
inline constexpr int kExitRecordUnusable = 8;  // write, finish: the record is damaged; not acted on
inline constexpr int kExitRecordPending = 9;   // write: a cut write is to be finished first
// 10 and 11: a taken number, a scan conflict (SharedLine.h).
inline constexpr int kExitNoRecord =
    12;  // write: the record cannot be saved, nothing sent; history: unreadable
inline constexpr int kExitOtherRegister = 13;  // finish: the record is another register's; kept
inline constexpr int kExitRecordKept = 14;     // finish --discard: the write can still be finished; kept

}  // namespace kkm::cli
