// The operator's whole job through the real windows, on the virtual line, with
// the simulated register and the KIA board wired to it: connecting on either
// link, reading and writing the network number, and every outcome of the
// connection procedure and of the commands, with the register's memories
// checked afterwards.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>

#include "service/Messages.h"
#include "service/Session.h"
#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/FaultTap.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/RegisterPlaces.h"
#include "tests/support/StateHome.h"
#include "tests/support/WindowsRig.h"
#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/SessionPresenter.h"
#include "ui/StationNoSpinEdit.h"

namespace kkm::ui {
namespace {

using sim::CashRegister;
using sim::RegisterFault;
using test::RecordingMessageBoxes;
using Box = RecordingMessageBoxes::Box;
using Icon = MessageBoxes::Icon;

constexpr std::uint16_t kStoredNumber = test::kStoredNumberAddress;
constexpr std::uint16_t kStoredChecksum = test::kStoredChecksumAddress;
constexpr std::uint8_t kWriteByte = 0x05, kReadByte = 0x06, kReadBlock = 0x16, kWriteBlock = 0x17;

using test::kAppTitle;
using test::kCommandTitle;
using test::kConnectedDialog;
using test::kNoContactCommand;
using test::kNoContactDialog;
using test::kNoKia;
using test::kNoRegister;
using test::kOldFirmware;
using test::kPortUnavailable;
using test::kReadDone;
using test::kWriteDone;
using test::kWriteSucceeded;

using test::Click;
using test::Places;

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The PC's UART hands bytes over in FIFO batches, as a 16550 does.
    line_.setHostReceiveFifo(14, 4);
    platform_.addPort("COM1", line_);
  }

  // The devices on the line: the register's processor, the KIA board, or both.
  void plug(bool processor, bool kia) {
    if (processor) line_.attach(tap_);
    if (kia) line_.attach(board_);
  }

  QToolButton* button(const char* name) { return rig_.button(name); }
  void chooseLink(Link link) { rig_.chooseLink(link); }
  bool commandsEnabled() { return rig_.commandsEnabled(); }
  QString numberText() { return rig_.numberText(); }
  void setNumberText(const QString& text) { rig_.setNumberText(text); }
  bool connect(Link link, int port = 1) { return rig_.connect(link, port); }
  void connectAndClose() { rig_.connectAndClose(); }
  void read() { rig_.read(); }
  void write(const QString& text) { rig_.write(text); }

  Places places() const { return test::PlacesOf(register_); }
  std::size_t hostBytes() const { return line_.traceOf(sim::Direction::HostToDevice).size(); }
  // The address (hh ll) of every KIA memory read frame the host sent.
  std::vector<std::uint16_t> kiaMemoryReadAddresses() const {
    std::vector<std::uint8_t> sent;
    for (const auto& e : line_.traceOf(sim::Direction::HostToDevice)) sent.push_back(e.byte);
    std::vector<std::uint16_t> addresses;
    for (std::size_t i = 0; i + 20 <= sent.size(); ++i)
      if (sent[i] == 0x00 && sent[i + 1] == 0x01 && sent[i + 2] == 0x75 && sent[i + 3] == 0x83 &&
          sent[i + 8] == 0xE0)
        addresses.push_back(static_cast<std::uint16_t>(sent[i + 4] << 8 | sent[i + 7]));
    return addresses;
  }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  CashRegister register_{1};
  test::FaultTap tap_{register_};  // passes every byte until armed
  sim::kia::KiaBoard board_{register_.dataMemory(), register_.nonVolatile()};
  RecordingMessageBoxes boxes_;
  test::WindowsRig rig_{platform_, boxes_};  // the windows, driven as the operator does
  service::Session& state_ = rig_.state();
  TMainForm& form_ = rig_.form();
  TInit_Com& initCom_ = rig_.initCom();
};

// ---- The whole road -------------------------------------------------------

// Both with a UART that hands bytes over in FIFO batches and with one that
// hands them over one by one (where the echo of a KIA memory write arrives
// only after the acknowledgement has been taken).
class WholeRoad : public CommandsTest, public ::testing::WithParamInterface<std::tuple<Link, bool>> {};

TEST_P(WholeRoad, ConnectReadWriteFortyFiveAndReadBack) {
  const auto [link, fifo] = GetParam();
  if (!fifo) line_.setHostReceiveFifo(0, 0);
  const QString linkWord = link == Link::Processor ? "ККМ" : "микроконтроллером";
  plug(link == Link::Processor, link == Link::Kia);
  const std::uint8_t checksumBefore = register_.nonVolatile()[kStoredChecksum];

  ASSERT_TRUE(connect(link));
  EXPECT_EQ(form_.statusText(), kConnectedDialog + linkWord);
  EXPECT_TRUE(commandsEnabled());
  EXPECT_EQ(state_.firmwareVersion, 105);
  EXPECT_EQ(state_.registerAddress, link == Link::Processor ? 0xFE : 0xFF) << "only the scan sets it";

  read();
  EXPECT_EQ(numberText(), "01");
  EXPECT_EQ(form_.statusText(), kReadDone);

  // While the success box is open the status strip still shows the old text.
  QString statusWhileBoxOpen;
  boxes_.whileOpen = [&] { statusWhileBoxOpen = form_.statusText(); };
  write("45");
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kWriteSucceeded, kCommandTitle, Icon::Information}}));
  EXPECT_EQ(statusWhileBoxOpen, kReadDone);
  EXPECT_EQ(form_.statusText(), "Запись завершена");
  EXPECT_TRUE(commandsEnabled());
  EXPECT_EQ(state_.registerAddress, 0xBA);
  EXPECT_EQ(places(), (Places{0xBA, 0xBA, 0xBA, static_cast<std::uint8_t>(checksumBefore - 0xFE + 0xBA)}));
  EXPECT_TRUE(register_.nonVolatileChecksumHolds());

  setNumberText("7");
  read();
  EXPECT_EQ(numberText(), "45");
  EXPECT_EQ(boxes_.boxes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothLinks, WholeRoad,
                         ::testing::Combine(::testing::Values(Link::Processor, Link::Kia), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == Link::Processor ? "Processor"
                                                                                         : "Kia") +
                                  (std::get<1>(info.param) ? "Fifo" : "ByteByByte");
                         });

TEST_F(CommandsTest, KiaConnectionKeepsTheRegisterAddress) {
  plug(false, true);
  ASSERT_TRUE(connect(Link::Kia));
  EXPECT_EQ(state_.registerAddress, 0xFF);
  write("45");
  EXPECT_EQ(state_.registerAddress, 0xBA) << "a successful write sets it on either link";
}

TEST_F(CommandsTest, WorkedExampleMovesTheChecksumFrom37ToF3) {
  plug(true, false);
  register_.nonVolatile()[kStoredChecksum] = 0x37;
  ASSERT_TRUE(connect(Link::Processor));
  write("45");
  EXPECT_EQ(places(), (Places{0xBA, 0xBA, 0xBA, 0xF3}));
  EXPECT_EQ(state_.registerAddress, 0xBA);
}

TEST_F(CommandsTest, SwitchingTheLinkAfterConnectingUsesTheOtherLinkOnTheSamePort) {
  plug(true, true);
  ASSERT_TRUE(connect(Link::Processor));
  chooseLink(Link::Kia);
  const std::size_t before = kiaMemoryReadAddresses().size();
  read();
  EXPECT_EQ(kiaMemoryReadAddresses().size(), before + 1);
  EXPECT_EQ(numberText(), "01");
  write("45");
  EXPECT_EQ(places().stored, 0xBA);
  EXPECT_EQ(platform_.openCount(), 1) << "no new connection";
}

// ---- Outcomes of the connection procedure --------------------------------

TEST_F(CommandsTest, UnavailablePortLeavesNoPortOpenEvenAfterAnEarlierSuccess) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  ASSERT_TRUE(line_.portOpen());
  EXPECT_FALSE(connect(Link::Processor, 2));
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kPortUnavailable, "Предупреждение", Icon::Warning}}));
  EXPECT_EQ(boxes_.boxes[0].details, "port-unavailable: COM-порт недоступен\nПорт: COM2");
  EXPECT_FALSE(state_.port.isOpen());
  EXPECT_FALSE(line_.portOpen());
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "ККМ");
  EXPECT_FALSE(commandsEnabled()) << "the attempt closed the port the commands used";
}

// An attempt that ran and failed disables the commands, whichever check
// failed; closing the dialog without an attempt leaves them as they were.
TEST_F(CommandsTest, AFailedAttemptDisablesTheCommandsAndNoAttemptLeavesThem) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  register_.setFirmwareVersion(0x01, 0x04);
  EXPECT_FALSE(connect(Link::Processor));
  EXPECT_FALSE(commandsEnabled()) << "a register of firmware 1.0.4 is no ground for the commands";
  register_.setFirmwareVersion(0x01, 0x05);
  ASSERT_TRUE(connect(Link::Processor));
  connectAndClose();
  EXPECT_TRUE(commandsEnabled());
}

struct ProcessorOutcome {
  const char* name;
  void (*prepare)(CashRegister&);
  bool addressFound;
  std::int32_t version;  // FirmwareVersion afterwards (0: unchanged from 0)
  QString box;
  Icon icon;
  QString reason;  // the name that starts the box's details
};

class ProcessorConnection : public CommandsTest, public ::testing::WithParamInterface<ProcessorOutcome> {};

TEST_P(ProcessorConnection, ReportsAndLeavesTheStateOfItsRow) {
  const ProcessorOutcome& row = GetParam();
  plug(true, false);
  row.prepare(register_);
  EXPECT_FALSE(connect(Link::Processor));
  const QString title = row.icon == Icon::Error ? "Ошибка" : "Предупреждение";
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{row.box, title, row.icon}}));
  EXPECT_TRUE(boxes_.boxes[0].details.startsWith(row.reason + ": ")) << boxes_.boxes[0].details.toStdString();
  EXPECT_TRUE(boxes_.boxes[0].details.endsWith("\nПорт: COM1")) << boxes_.boxes[0].details.toStdString();
  EXPECT_TRUE(state_.port.isOpen()) << "the chosen port stays open";
  EXPECT_EQ(state_.registerAddress, row.addressFound ? 0xFE : 0xFF);
  EXPECT_EQ(state_.firmwareVersion, row.version);
  EXPECT_EQ(state_.memoryMap.entries, memmap::MemoryMap{}.entries) << "no map loaded";
  EXPECT_EQ(initCom_.result(), QDialog::Rejected);
  EXPECT_FALSE(commandsEnabled());
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "ККМ");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProcessorConnection,
    ::testing::Values(
        ProcessorOutcome{"NoAddressAnswers",
                         [](CashRegister& r) {
                           r.addFault({.fault = RegisterFault::Silent,
                                       .exchange = 0,
                                       .command = {},
                                       .occurrence = 0,
                                       .times = 0,
                                       .bytes = {}});
                         },
                         false, 0, kNoRegister, Icon::Error, "no-register"},
        ProcessorOutcome{"VersionQueryFails",
                         [](CashRegister& r) { r.faultOnCommand(0x14, RegisterFault::Silent); }, true, 0,
                         kNoRegister, Icon::Error, "no-ack"},
        ProcessorOutcome{"Version104", [](CashRegister& r) { r.setFirmwareVersion(0x01, 0x04); }, true, 104,
                         kOldFirmware, Icon::Warning, "wrong-firmware"},
        ProcessorOutcome{"Version106", [](CashRegister& r) { r.setFirmwareVersion(0x01, 0x06); }, true, 106,
                         kOldFirmware, Icon::Warning, "wrong-firmware"},
        ProcessorOutcome{"VersionReplyCorrupt",
                         [](CashRegister& r) { r.faultOnCommand(0x14, RegisterFault::BadReplyChecksum); },
                         true, 0, kOldFirmware, Icon::Warning, "wrong-firmware"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandsTest, KiaProbeFailureAndTheProbeAddressBeforeAndAfterTheFirstSuccess) {
  // No controller on the line: the probe goes unanswered, and standard error
  // gets exactly one line with the reason.
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(connect(Link::Kia));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "kkm-netnum: связь через COM1 не установлена: no-kia-answer: микроконтроллер КИА не ответил за "
            "50 мс\n");
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kNoKia, "Ошибка", Icon::Error}}));
  EXPECT_TRUE(state_.port.isOpen());
  EXPECT_EQ(state_.firmwareVersion, 0);
  EXPECT_EQ(state_.memoryMap.NetworkNumberAddress(), 0);
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "микроконтроллером");

  plug(false, true);
  ASSERT_TRUE(connect(Link::Kia));
  EXPECT_EQ(state_.firmwareVersion, 105);
  EXPECT_EQ(state_.memoryMap.ProbeAddress(), 0x77AD);
  EXPECT_EQ(state_.memoryMap.NetworkNumberAddress(), 0x1140);
  ASSERT_TRUE(connect(Link::Kia));
  EXPECT_EQ(kiaMemoryReadAddresses(), (std::vector<std::uint16_t>{0x0000, 0x0000, 0x77AD}));
}

// ---- Busy feedback -----------------------------------------------------------

// Whenever a frame reaches the register: the wait cursor is up and the
// commands are disabled. When a box opens, the wait cursor is gone.
TEST_F(CommandsTest, TheWaitCursorAndDisabledCommandsWhileACommandBlocks) {
  plug(true, false);
  int frames = 0, busyFrames = 0;
  const auto watch = [&] {
    tap_.arm({1,
              false,
              [&] {
                ++frames;
                const QCursor* cursor = QApplication::overrideCursor();
                if (cursor != nullptr && cursor->shape() == Qt::WaitCursor &&
                    !button("tbRead")->isEnabled() && !button("tbWrite")->isEnabled())
                  ++busyFrames;
              },
              {}});
  };
  bool cursorWithBox = true;
  boxes_.whileOpen = [&] { cursorWithBox = QApplication::overrideCursor() != nullptr; };
  for (const char* command : {"connect", "read", "write", "failed read"}) {
    SCOPED_TRACE(command);
    frames = busyFrames = 0;
    watch();
    const std::string name = command;
    if (name == "connect") {
      ASSERT_TRUE(connect(Link::Processor));
    } else if (name == "read") {
      read();
    } else if (name == "write") {
      write("45");
      EXPECT_FALSE(cursorWithBox) << "the success box opens without the wait cursor";
    } else {
      register_.faultOnCommand(kReadByte, RegisterFault::Silent);
      cursorWithBox = true;
      read();
      EXPECT_FALSE(cursorWithBox) << "the error box opens without the wait cursor";
    }
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(busyFrames, 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor goes when the command ends";
  }
}

// After a read the whole number is selected: typing replaces it.
TEST_F(CommandsTest, AReadSelectsTheNumberSoTypingReplacesIt) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  QLineEdit* edit = form_.stationNoSpinEdit().lineEdit();
  form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  edit->setFocus(Qt::OtherFocusReason);
  QTest::keyClicks(edit, "7");  // the caret after the text, nothing selected
  ASSERT_FALSE(edit->hasSelectedText());
  read();
  EXPECT_EQ(edit->selectedText(), "01");
  QTest::keyClicks(edit, "45");
  EXPECT_EQ(numberText(), "45");
}

TEST_F(CommandsTest, ClosingTheDialogAfterASuccessReportsNoConnection) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  connectAndClose();
  EXPECT_EQ(initCom_.result(), QDialog::Rejected);
  EXPECT_TRUE(state_.port.isOpen()) << "the earlier connection's port is still open";
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "ККМ");
  EXPECT_TRUE(commandsEnabled());
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(CommandsTest, ASecondAttemptClosesThePortTheFailedOneOpened) {
  register_.faultOnExchange(1, RegisterFault::Silent);
  plug(true, false);
  EXPECT_FALSE(connect(Link::Processor));
  EXPECT_TRUE(line_.portOpen());
  EXPECT_TRUE(connect(Link::Processor)) << "the port could be reopened, so the first was closed";
  EXPECT_EQ(platform_.openCount(), 2);
}

// ---- Outcomes of the commands ----------------------------------------------

TEST_F(CommandsTest, AFailedReadShowsTheBoxThenTheStatusAndKeepsTheField) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  register_.faultOnCommand(kReadByte, RegisterFault::BadReplyChecksum);
  setNumberText("33");
  QString statusWhileBoxOpen;
  boxes_.whileOpen = [&] { statusWhileBoxOpen = form_.statusText(); };
  read();
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{"Не удается установить последовательный интерфейс с ККМ",
                                             kCommandTitle, Icon::Error}}));
  EXPECT_TRUE(boxes_.boxes[0].details.startsWith("reply-checksum: "))
      << boxes_.boxes[0].details.toStdString();
  EXPECT_EQ(statusWhileBoxOpen, kConnectedDialog + "ККМ");
  EXPECT_EQ(form_.statusText(), kNoContactCommand + "ККМ");
  EXPECT_EQ(numberText(), "33");
  EXPECT_TRUE(commandsEnabled());
}

struct WriteFailure {
  int exchange;  // 1..6
  std::uint8_t command;
  std::uint32_t occurrence;
  bool buttonsEnabled;
  Places after;  // register 1 (byte FE) with checksum C, writing 45 (BA)
};

class WriteFailures : public CommandsTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailures, EachExchangeFailingLeavesItsRowAndTheWritesBeforeIt) {
  const WriteFailure& row = GetParam();
  plug(true, false);
  register_.nonVolatile()[kStoredChecksum] = 0x37;
  ASSERT_TRUE(connect(Link::Processor));
  register_.faultOnCommand(row.command, RegisterFault::Silent, row.occurrence);
  write("45");
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{"Не удается установить последовательный интерфейс с ККМ",
                                             kCommandTitle, Icon::Error}}));
  EXPECT_TRUE(boxes_.boxes[0].details.startsWith("no-ack: ")) << boxes_.boxes[0].details.toStdString();
  EXPECT_EQ(form_.statusText(), kNoContactCommand + "ККМ");
  EXPECT_EQ(commandsEnabled(), row.buttonsEnabled);
  EXPECT_EQ(state_.registerAddress, 0xFE);
  EXPECT_EQ(places(), row.after);
}

INSTANTIATE_TEST_SUITE_P(Rows, WriteFailures,
                         ::testing::Values(WriteFailure{1, kWriteByte, 1, true, {0xFE, 0xFE, 0xFE, 0x37}},
                                           WriteFailure{2, kReadBlock, 1, false, {0xBA, 0xFE, 0xFE, 0x37}},
                                           WriteFailure{3, kReadBlock, 2, false, {0xBA, 0xFE, 0xFE, 0x37}},
                                           WriteFailure{4, kWriteBlock, 1, false, {0xBA, 0xFE, 0xFE, 0x37}},
                                           WriteFailure{5, kWriteBlock, 2, false, {0xBA, 0xFE, 0xBA, 0x37}},
                                           WriteFailure{6, kWriteByte, 2, true, {0xBA, 0xFE, 0xBA, 0xF3}}),
                         [](const auto& info) { return "Exchange" + std::to_string(info.param.exchange); });

TEST_F(CommandsTest, KiaBusErrorDuringTheWriteLeavesTheButtonsDisabled) {
  plug(false, true);
  ASSERT_TRUE(connect(Link::Kia));
  board_.holdDataLow(true);  // the EEPROM routines answer bus error 0x01
  write("45");
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{"Не удается установить последовательный интерфейс с микроконтроллером КИА",
                               kCommandTitle, Icon::Error}}));
  EXPECT_EQ(form_.statusText(), kNoContactCommand + "микроконтроллером КИА");
  EXPECT_FALSE(commandsEnabled());
  EXPECT_EQ(places(), (Places{0xBA, 0xFE, 0xFE, register_.nonVolatile()[kStoredChecksum]}));
}

// ---- A write cut at any of its exchanges ----------------------------------------

const QString kFinishQuestion = "Запись сетевого номера 45 в ККМ была прервана. Завершить её?";
const Box kQuestion{kFinishQuestion, kCommandTitle, Icon::Question};
const Box kNoInterface{"Не удается установить последовательный интерфейс с ККМ", kCommandTitle, Icon::Error};

// The answers to the host's frame `frame` (counted from the arming) never arrive;
// the register executed it.
test::FaultTap::Strike AnswersLost(std::uint32_t frame) {
  return {frame, false, {}, [](std::size_t, std::uint8_t) { return std::vector<std::uint8_t>{}; }};
}

struct Interruption {
  const char* name;
  void (*inject)(CashRegister&, test::FaultTap&);  // after connecting: frame k is exchange k
  bool sendsExchange5;
  bool touchedNonVolatile = true;  // the cut came at exchange 4 or later
};

void PrintTo(const Interruption& row, std::ostream* os) { *os << row.name; }

// The register hears nothing of exchange k, or executes it and its answers are lost.
template <std::uint32_t k>
void Silent(CashRegister&, test::FaultTap& tap) {
  tap.arm({k, true, {}, {}});
}
template <std::uint32_t k>
void AnswersLostAt(CashRegister&, test::FaultTap& tap) {
  tap.arm(AnswersLost(k));
}

// Finishing sends exchange 5 unless 0x0740 already holds the new checksum.
const Interruption kCuts[] = {
    {"Exchange1Silent", Silent<1>, true, false}, {"Exchange1AnswersLost", AnswersLostAt<1>, true, false},
    {"Exchange2Silent", Silent<2>, true, false}, {"Exchange2AnswersLost", AnswersLostAt<2>, true, false},
    {"Exchange3Silent", Silent<3>, true, false}, {"Exchange3AnswersLost", AnswersLostAt<3>, true, false},
    {"Exchange4Silent", Silent<4>, true},        {"Exchange4AnswersLost", AnswersLostAt<4>, true},
    {"Exchange5Silent", Silent<5>, true},        {"Exchange5AnswersLost", AnswersLostAt<5>, false},
    {"Exchange6Silent", Silent<6>, false},       {"Exchange6AnswersLost", AnswersLostAt<6>, false},
};

class InterruptedWrites : public CommandsTest, public ::testing::WithParamInterface<Interruption> {
 protected:
  bool recordKept() const {
    return service::LoadRecord("COM1", Link::Processor, "COM1").status == service::RecordStatus::Found;
  }
  // Writes 45 with the fault; the register then answers again.
  void interruptWrite(const Interruption& row) {
    plug(true, false);
    register_.nonVolatile()[kStoredChecksum] = 0x37;
    ASSERT_TRUE(connect(Link::Processor));
    row.inject(register_, tap_);
    write("45");
    ASSERT_EQ(boxes_.boxes, std::vector<Box>{kNoInterface});
    ASSERT_TRUE(recordKept());
    register_.clearFaults();
    tap_.arm({});
    boxes_.boxes.clear();
  }
};

TEST_P(InterruptedWrites, AnsweringYesAtTheNextConnectionFinishesItAsAWriteEnds) {
  interruptWrite(GetParam());
  setNumberText("17");
  std::size_t exchange5Frames = 0;
  boxes_.whileOpen = [&] {
    if (boxes_.boxes.back().icon == Icon::Question) register_.clearLog();
  };
  ASSERT_TRUE(connect(Link::Processor));
  for (const sim::ExecutedCommand& c : register_.log())
    if (c.command == kWriteBlock && c.address == kStoredChecksum) ++exchange5Frames;
  EXPECT_EQ(exchange5Frames, GetParam().sendsExchange5 ? 1u : 0u);
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{kQuestion, {kWriteSucceeded, kCommandTitle, Icon::Information}}));
  EXPECT_EQ(form_.statusText(), kWriteDone);
  EXPECT_TRUE(commandsEnabled());
  EXPECT_EQ(state_.registerAddress, 0xBA);
  EXPECT_EQ(places(), (Places{0xBA, 0xBA, 0xBA, 0xF3})) << "what a complete write of 45 leaves";
  EXPECT_EQ(numberText(), "45") << "the field shows the number now stored";
  EXPECT_FALSE(recordKept());
  boxes_.boxes.clear();
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_TRUE(boxes_.boxes.empty()) << "a finished write is not asked about again";
}

// "Нет" sends nothing; a new write then asks first when the cut one may have
// touched the non-volatile memory ("Нет" again: neither is made, and a box
// says so; "Да": the cut write is finished, then the new one is made), and
// simply takes its place when it may not.
TEST_P(InterruptedWrites, AnsweringNoLeavesItAndANewWriteSettlesItFirst) {
  interruptWrite(GetParam());
  const Places interrupted = places();
  boxes_.answer = false;
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_EQ(boxes_.boxes, std::vector<Box>{kQuestion});
  EXPECT_EQ(places(), interrupted);
  boxes_.boxes.clear();
  if (GetParam().touchedNonVolatile) {
    write("17");
    EXPECT_EQ(boxes_.boxes,
              (std::vector<Box>{
                  kQuestion,
                  {"Прерванная запись сетевого номера 45 не завершена, новый сетевой номер не записан.",
                   kCommandTitle, Icon::Warning}}));
    EXPECT_EQ(places(), interrupted);
    EXPECT_TRUE(commandsEnabled());
    boxes_.answer = true;
    boxes_.boxes.clear();
  }
  write("17");
  const Box succeeded{kWriteSucceeded, kCommandTitle, Icon::Information};
  EXPECT_EQ(boxes_.boxes, GetParam().touchedNonVolatile ? (std::vector<Box>{kQuestion, succeeded, succeeded})
                                                        : std::vector<Box>{succeeded});
  EXPECT_EQ(places(), (Places{0xE8, 0xE8, 0xE8, static_cast<std::uint8_t>(0x37 - 0xFE + 0xE8)}))
      << "what a complete write of 17 leaves";
  EXPECT_FALSE(recordKept());
}

INSTANTIATE_TEST_SUITE_P(Rows, InterruptedWrites, ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return info.param.name; });

class InterruptedWrite : public InterruptedWrites {
 protected:
  void interrupt() { interruptWrite({"Exchange5Silent", Silent<5>, true}); }
};

TEST_F(InterruptedWrite, AnsweringNoSendsNothingAndTheQuestionComesAgain) {
  interrupt();
  const Places interrupted = places();
  boxes_.answer = false;
  std::size_t sentWhileAsked = 0;
  boxes_.whileOpen = [&] { sentWhileAsked = hostBytes(); };
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_EQ(boxes_.boxes, std::vector<Box>{kQuestion});
  EXPECT_EQ(hostBytes(), sentWhileAsked) << "nothing is sent after \"Нет\"";
  EXPECT_EQ(places(), interrupted);
  EXPECT_TRUE(recordKept());
  EXPECT_TRUE(commandsEnabled());
  EXPECT_EQ(form_.statusText(), kConnectedDialog + "ККМ");
  boxes_.boxes.clear();
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_EQ(boxes_.boxes, std::vector<Box>{kQuestion});
}

TEST_F(InterruptedWrite, AFailedFinishGivesTheWritesErrorReportAndKeepsTheRecord) {
  interrupt();
  register_.faultOnCommand(kWriteByte, RegisterFault::Silent);  // exchange 6
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{kQuestion, kNoInterface}));
  EXPECT_EQ(form_.statusText(), kNoContactCommand + "ККМ");
  EXPECT_TRUE(commandsEnabled()) << "as after a write that failed at exchange 6";
  EXPECT_TRUE(recordKept());
}

TEST_F(InterruptedWrite, MemoryChangedSinceIsNotFinishedButMayBeDiscarded) {
  interrupt();
  register_.nonVolatile()[kStoredChecksum] = 0x11;
  const Box changed{
      "Память ККМ изменилась после прерванной записи сетевого номера 45. "
      "Завершить её автоматически нельзя.\nУдалить сведения о прерванной записи?",
      kCommandTitle, Icon::Warning};
  for (const bool discard : {false, true}) {
    boxes_.answer = discard;
    boxes_.boxes.clear();
    ASSERT_TRUE(connect(Link::Processor));
    EXPECT_EQ(boxes_.boxes, std::vector<Box>{changed});
    EXPECT_EQ(recordKept(), !discard);
    EXPECT_EQ(places().checksum, 0x11);
  }
}

TEST_F(InterruptedWrite, AnUntouchedRegisterIsOfferedTheWholeWriteAgain) {
  interruptWrite({"Exchange4Silent", Silent<4>, true});
  ASSERT_TRUE(connect(Link::Processor));
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{kQuestion, {kWriteSucceeded, kCommandTitle, Icon::Information}}));
  EXPECT_FALSE(recordKept());
  EXPECT_EQ(places(), (Places{0xBA, 0xBA, 0xBA, 0xF3}));
  EXPECT_EQ(form_.statusText(), kWriteDone);
}

class QuitDuringFinish : public InterruptedWrite {
 protected:
  // "Нет" at the connection, then a write of 17 that finishes 45 first; a quit
  // comes while the first box with `quitAt`'s icon is open (none for Error).
  void run(Icon quitAt) {
    interrupt();
    boxes_.answer = false;
    ASSERT_TRUE(connect(Link::Processor));
    boxes_.answer = true;
    boxes_.boxes.clear();
    std::vector<bool> cursorAtFrame;
    boxes_.whileOpen = [&] {
      if (boxes_.boxes.back().icon == quitAt) ui::EndSession();
      tap_.arm({1, false, [&] { cursorAtFrame.push_back(QApplication::overrideCursor() != nullptr); }, {}});
    };
    write("17");
    const std::size_t shown = quitAt == Icon::Question ? 1 : quitAt == Icon::Information ? 2 : 3;
    EXPECT_EQ(boxes_.boxes.size(), shown);
    EXPECT_EQ(cursorAtFrame, std::vector<bool>(shown - 1, true)) << "a frame after every answer, busy";
    EXPECT_EQ(places().stored, shown == 3 ? 0xE8 : 0xBA) << "17 only without a quit";
    QTimer::singleShot(0, [] { QApplication::quit(); });
    QApplication::exec();
    EXPECT_FALSE(ui::SessionEnding()) << "the event loop's end ends the session's end too";
  }
};

// A quit closes the box it finds open unanswered and starts nothing more; the
// finish and the write after it run under the wait cursor.
TEST_F(QuitDuringFinish, AtTheQuestion) { run(Icon::Question); }
TEST_F(QuitDuringFinish, AtTheFinishsResult) { run(Icon::Information); }
TEST_F(QuitDuringFinish, WithoutOneBothAreWritten) { run(Icon::Error); }

#ifndef _WIN32  // Windows folders do not refuse files so
// A record not completed before exchange 4 refuses the write with its reason;
// the link works, so the commands stay enabled.
TEST_F(InterruptedWrite, ARecordNotCompletedRefusesTheWriteAndKeepsTheCommands) {
  namespace fs = std::filesystem;
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  const std::string folder = test::StateHome() + "/kkm-netnum";
  tap_.arm({3, false, [&] { fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec); }, {}});
  ::testing::internal::CaptureStderr();
  write("45");
  ::testing::internal::GetCapturedStderr();
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{QString::fromUtf8(service::kNoRecordText), kCommandTitle, Icon::Error}}));
  EXPECT_TRUE(boxes_.boxes[0].details.contains("обмен 4 не отправлен") && commandsEnabled());
}
#endif

TEST_F(InterruptedWrite, ADamagedRecordIsReportedAndNotActedOn) {
  plug(true, false);
  const std::string path = service::RecordPath("COM1", Link::Processor);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "version=1\nport=COM1\n";
  const std::size_t sent = hostBytes();
  boxes_.answer = false;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(connect(Link::Processor));
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].icon, Icon::Warning);
  EXPECT_TRUE(
      boxes_.boxes[0].text.startsWith("Сведения о прерванной записи сетевого номера повреждены и не будут "
                                      "использованы: сведения о прерванной "
                                      "записи"));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_GT(hostBytes(), sent) << "the connection itself ran";
  EXPECT_TRUE(commandsEnabled());
}

// ---- What the write accepts ------------------------------------------------

TEST_F(CommandsTest, DecimalNumbersWithLeadingZerosAreAccepted) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  for (const auto& [text, byte] : std::vector<std::pair<QString, std::uint8_t>>{
           {"5", 0xFA}, {"05", 0xFA}, {"099", 0x66}, {"10", 0xEF}}) {
    write(text);
    EXPECT_EQ(places().stored, byte) << text.toStdString();
    EXPECT_EQ(state_.registerAddress, byte);
  }
}

TEST_F(CommandsTest, TextThatIsNoNumberGetsTheStandardErrorBoxAndSendsNothing) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  for (const QString text : {"", " ", "+5", "-1", "1,", "5 ", "<b>", "ж"}) {
    boxes_.boxes.clear();
    const std::size_t sent = hostBytes();
    write(text);
    EXPECT_EQ(boxes_.boxes,
              (std::vector<Box>{{"'$" + text + "' is not a valid integer value.", kAppTitle, Icon::Error}}))
        << text.toStdString();
    EXPECT_EQ(hostBytes(), sent);
    EXPECT_TRUE(commandsEnabled()) << "nothing reached the register, so the commands stay usable";
    EXPECT_EQ(form_.statusText(), kConnectedDialog + "ККМ");
  }
}

TEST_F(CommandsTest, NumbersOutsideOneToNinetyNineAreRefusedWithAWarning) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  for (const QString text : {"0", "00", "100", "150", "FF", "0A", "abc"}) {
    boxes_.boxes.clear();
    const std::size_t sent = hostBytes();
    write(text);
    ASSERT_EQ(boxes_.boxes.size(), 1u) << text.toStdString();
    EXPECT_EQ(boxes_.boxes[0].title, kCommandTitle);
    EXPECT_EQ(boxes_.boxes[0].icon, Icon::Warning);
    EXPECT_TRUE(boxes_.boxes[0].text.contains("1 до 99"));
    EXPECT_EQ(hostBytes(), sent) << text.toStdString();
    EXPECT_TRUE(commandsEnabled());
  }
  EXPECT_EQ(places(), (Places{0xFE, 0xFE, 0xFE, register_.nonVolatile()[kStoredChecksum]}));
}

// On a line with registers 01 and 09, the windows talk to 01: writing 09
// would put two registers at one address. The new number's address byte goes
// out first; 09 answers, so nothing is written and no record is kept. The
// register's own number is no conflict.
TEST_F(CommandsTest, ANumberAnotherRegisterAnswersToIsRefusedWithNothingWritten) {
  CashRegister nine(9);
  plug(true, false);
  line_.attach(nine);
  ASSERT_TRUE(connect(Link::Processor));
  register_.clearLog();
  write("09");
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0], (Box{"Сетевой номер 09 уже занят другой ККМ на этой линии; запись не выполнена.",
                                  kCommandTitle, Icon::Warning}));
  EXPECT_TRUE(boxes_.boxes[0].details.startsWith("number-taken: на адрес 0xF6 (сетевой номер 09)"))
      << boxes_.boxes[0].details.toStdString();
  EXPECT_TRUE(register_.log().empty()) << "no exchange reached the register";
  EXPECT_EQ(places(), (Places{0xFE, 0xFE, 0xFE, register_.nonVolatile()[kStoredChecksum]}));
  EXPECT_EQ(service::LoadRecord("COM1", Link::Processor, "COM1").status, service::RecordStatus::None);
  EXPECT_TRUE(commandsEnabled());
  boxes_.boxes.clear();
  write("01");
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kWriteSucceeded, kCommandTitle, Icon::Information}}));
}

}  // namespace
}  // namespace kkm::ui
