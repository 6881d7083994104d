#include "sim/kia/Monitor.h"

#include <algorithm>
#include <array>

namespace kkm::sim::kia {

namespace {

// The gap counter's operands: MOV R2,#outer at 0x0051, MOV R3,#inner at 0x0053.
constexpr std::uint16_t kGapOuterOperand = 0x0052;
constexpr std::uint16_t kGapInnerOperand = 0x0054;
// One pass of the gap loop (JB RI + DJNZ R3) takes four machine cycles.
constexpr std::uint64_t kGapPassCycles = 4;
constexpr std::uint64_t kMaxGapPasses = 256 * 256;

// Internal RAM: R0..R3 of bank 0, the stack from 0x08, the frame from 0x30
// up to 0xFF (R0 wrapping to 0 marks a frame too long to keep).
constexpr auto kMonitorImage = std::to_array<std::uint8_t>({
    0x02, 0x00, 0x30,  // 0000        LJMP  START
    0x00, 0x00,        // 0003        NOP; NOP (external interrupt 0 vector, unused)
    0xC2, 0x99,        // 0005 SEND:  CLR   TI
    0xF5, 0x99,        // 0007        MOV   SBUF,A
    0x30, 0x99, 0xFD,  // 0009        JNB   TI,$
    0x22,              // 000C        RET
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00,              // 000D..002F  (unused vectors)
    0x75, 0x81, 0x07,  // 0030 START: MOV   SP,#07h       stack above register bank 0
    0x75, 0x89, 0x20,  // 0033        MOV   TMOD,#20h     timer 1: 8-bit auto-reload
    0x75, 0x8D, 0xFD,  // 0036        MOV   TH1,#0FDh     9600 bit/s at 11.0592 MHz
    0x75, 0x8B, 0xFD,  // 0039        MOV   TL1,#0FDh
    0xD2, 0x8E,        // 003C        SETB  TR1
    0x75, 0x98, 0x50,  // 003E        MOV   SCON,#50h     mode 1, receiver on
    0x78, 0x30,        // 0041 NEXT:  MOV   R0,#30h       frame buffer
    0x30, 0x98, 0xFD,  // 0043        JNB   RI,$          the first byte: wait as long as it takes
    0xC2, 0x98,        // 0046 RECV:  CLR   RI
    0xB8, 0x00, 0x02,  // 0048        CJNE  R0,#00h,STORE
    0x80, 0x04,        // 004B        SJMP  GAP           buffer full: drop the byte
    0xE5, 0x99,        // 004D STORE: MOV   A,SBUF
    0xF6,              // 004F        MOV   @R0,A
    0x08,              // 0050        INC   R0
    0x7A, 0x03,        // 0051 GAP:   MOV   R2,#outer     idle gap = 4 cycles * passes
    0x7B, 0xD0,        // 0053        MOV   R3,#inner
    0x20, 0x98, 0xEE,  // 0055 POLL:  JB    RI,RECV
    0xDB, 0xFB,        // 0058        DJNZ  R3,POLL
    0xDA, 0xF9,        // 005A        DJNZ  R2,POLL
    0xE8,              // 005C        MOV   A,R0          the line went idle: frame complete
    0x60, 0xE2,        // 005D        JZ    NEXT          too long
    0xC3,              // 005F        CLR   C
    0x94, 0x36,        // 0060        SUBB  A,#36h        n - 6
    0x40, 0xDD,        // 0062        JC    NEXT          too short
    0x24, 0x05,        // 0064        ADD   A,#05h        n - 1 bytes to add up
    0xFA,              // 0066        MOV   R2,A
    0x79, 0x30,        // 0067        MOV   R1,#30h
    0xE4,              // 0069        CLR   A
    0x27,              // 006A SUM:   ADD   A,@R1
    0x09,              // 006B        INC   R1
    0xDA, 0xFC,        // 006C        DJNZ  R2,SUM
    0x67,              // 006E        XRL   A,@R1         zero when the last byte is the sum
    0x70, 0xD0,        // 006F        JNZ   NEXT          wrong checksum: no answer
    0xE5, 0x30,        // 0071        MOV   A,30h
    0x70, 0xCC,        // 0073        JNZ   NEXT          lead-in must be 00 01
    0xE5, 0x31,        // 0075        MOV   A,31h
    0xB4, 0x01, 0xC7,  // 0077        CJNE  A,#01h,NEXT
    0x74, 0x01,        // 007A        MOV   A,#01h
    0x11, 0x05,        // 007C        ACALL SEND          acknowledge, wait until it has left
    0xE8,              // 007E        MOV   A,R0
    0xC3,              // 007F        CLR   C
    0x94, 0x35,        // 0080        SUBB  A,#35h        routine length n - 5
    0xFA,              // 0082        MOV   R2,A
    0x79, 0x32,        // 0083        MOV   R1,#32h       after the lead-in
    0x90, 0x01, 0x00,  // 0085        MOV   DPTR,#0100h
    0xC2, 0x97,        // 0088        CLR   P1.7          program load on: MOVX writes code memory
    0xE7,              // 008A COPY:  MOV   A,@R1
    0xF0,              // 008B        MOVX  @DPTR,A
    0xA3,              // 008C        INC   DPTR
    0x09,              // 008D        INC   R1
    0xDA, 0xFA,        // 008E        DJNZ  R2,COPY
    0xD2, 0x97,        // 0090        SETB  P1.7          program load off
    0x12, 0x01, 0x00,  // 0092        LCALL 0100h         run the routine
    0x80, 0xAA,        // 0095        SJMP  NEXT
});

static_assert(kMonitorImage.size() == 0x97);
static_assert(kMonitorImage[kSendAndReturn] == 0xC2 && kMonitorImage[kGapOuterOperand - 1] == 0x7A &&
              kMonitorImage[kGapInnerOperand - 1] == 0x7B);

}  // namespace

void LoadMonitor(std::span<std::uint8_t> code, std::uint64_t idleGapCycles) {
  std::copy(kMonitorImage.begin(), kMonitorImage.end(), code.begin());
  SetMonitorIdleGap(code, idleGapCycles);
}

void SetMonitorIdleGap(std::span<std::uint8_t> code, std::uint64_t idleGapCycles) {
  // The loop makes `inner` passes, then 256 more for each further `outer`
  // (an operand of 0 counts as 256).
  const std::uint64_t passes =
      std::clamp<std::uint64_t>((idleGapCycles + kGapPassCycles - 1) / kGapPassCycles, 1, kMaxGapPasses);
  const std::uint64_t outer = (passes + 255) / 256;
  const std::uint64_t inner = passes - 256 * (outer - 1);
  code[kGapOuterOperand] = static_cast<std::uint8_t>(outer);
  code[kGapInnerOperand] = static_cast<std::uint8_t>(inner);
}

}  // namespace kkm::sim::kia
