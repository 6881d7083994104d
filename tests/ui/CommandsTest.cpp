// The operator's whole job through the real windows, on the virtual line, with
// the simulated register and the KIA board wired to it: connecting on either
// link, reading and writing the network number, and every outcome of the
// connection procedure and of the commands, with the register's memories
// checked afterwards.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <memory>
#include <string>
#include <tuple>

#include "service/Session.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/ui/RecordingMessageBoxes.h"
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

constexpr std::uint16_t kWorkingCopy = 0x1140;
constexpr std::uint16_t kLineAddressCopy = 0x020F;
constexpr std::uint16_t kStoredNumber = 0x073E;
constexpr std::uint16_t kStoredChecksum = 0x0740;
constexpr std::uint8_t kWriteByte = 0x05, kReadByte = 0x06, kReadBlock = 0x16, kWriteBlock = 0x17;

const QString kCommandTitle = "Запись сетевого номера";
const QString kAppTitle = "Сетевой номер ККМ ТИМ-31Ц";
// After a command the status text has a Latin "c"; after the dialog a Cyrillic one.
const QString kNoContactCommand = "Нет связи c ";
const QString kNoContactDialog = QString::fromUtf8("Нет связи \u0441 ");
const QString kConnectedDialog = QString::fromUtf8("Установлен интерфейс \u0441 ");

Application& App() { return static_cast<Application&>(*QApplication::instance()); }

void Click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// The four places of the network number in the register, as one value.
struct Places {
  std::uint8_t working, lineAddress, stored, checksum;
  bool operator==(const Places&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Places& p) {
  return os << std::hex << "{1140=" << int(p.working) << " 020F=" << int(p.lineAddress)
            << " 073E=" << int(p.stored) << " 0740=" << int(p.checksum) << "}";
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The PC's UART hands bytes over in FIFO batches, as a 16550 does.
    line_.setHostReceiveFifo(14, 4);
    platform_.addPort("COM1", line_);
    previousBoxes_ = &App().messageBoxes();
    App().setMessageBoxes(boxes_);
    form_.show();
  }
  void TearDown() override { App().setMessageBoxes(*previousBoxes_); }

  // The devices on the line: the register's processor, the KIA board, or both.
  void plug(bool processor, bool kia) {
    if (processor) line_.attach(register_);
    if (kia) line_.attach(board_);
  }

  QToolButton* button(const char* name) { return form_.findChild<QToolButton*>(name); }
  QRadioButton* radio(const QWidget& window, const char* name) {
    return window.findChild<QRadioButton*>(name);
  }
  void chooseLink(Link link) {
    Click(radio(form_, link == Link::Processor ? "KKM_RadioButton" : "Micro_RadioButton"));
  }
  bool commandsEnabled() {
    EXPECT_EQ(button("tbRead")->isEnabled(), button("tbWrite")->isEnabled());
    return button("tbRead")->isEnabled();
  }
  QString numberText() { return form_.stationNoSpinEdit().text(); }
  void setNumberText(const QString& text) { form_.stationNoSpinEdit().setText(text); }

  // The connect button, COM<port> in the dialog, "Установить интерфейс"; a
  // dialog left open by a failure is closed with "Закрыть".
  bool connect(Link link, int port = 1) {
    chooseLink(link);
    QTimer::singleShot(0, &initCom_, [this, port] {
      Click(radio(initCom_, ("RadioButton" + std::to_string(port)).c_str()));
      Click(initCom_.findChild<QPushButton*>("Button1"));
      if (initCom_.isVisible()) Click(initCom_.findChild<QPushButton*>("Button3"));
    });
    Click(button("tbConnect"));
    return state_.interfaceReady;
  }
  // The connect button, then "Закрыть" at once.
  void connectAndClose() {
    QTimer::singleShot(0, &initCom_, [this] { Click(initCom_.findChild<QPushButton*>("Button3")); });
    Click(button("tbConnect"));
  }
  void read() { Click(button("tbRead")); }
  void write(const QString& text) {
    setNumberText(text);
    Click(button("tbWrite"));
  }

  Places places() const {
    const auto& data = register_.dataMemory();
    const auto& nv = register_.nonVolatile();
    return {data[kWorkingCopy], data[kLineAddressCopy], nv[kStoredNumber], nv[kStoredChecksum]};
  }
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
  sim::kia::KiaBoard board_{register_.dataMemory(), register_.nonVolatile()};
  service::Session state_{platform_};
  RecordingMessageBoxes boxes_;
  MessageBoxes* previousBoxes_ = nullptr;
  TMainForm form_{boxes_};
  TInit_Com initCom_{boxes_};
  SessionPresenter presenter_{state_, boxes_, form_, initCom_};
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
  EXPECT_EQ(form_.statusText(), "Чтение завершено");

  // While the success box is open the status strip still shows the old text.
  QString statusWhileBoxOpen;
  boxes_.whileOpen = [&] { statusWhileBoxOpen = form_.statusText(); };
  write("45");
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{"Операция успешно завершена", kCommandTitle, Icon::Information}}));
  EXPECT_EQ(statusWhileBoxOpen, "Чтение завершено");
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
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{"Выбранный COM-порт недоступен", "Предупреждение", Icon::Warning}}));
  EXPECT_FALSE(state_.port.isOpen());
  EXPECT_FALSE(line_.portOpen());
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "ККМ");
  EXPECT_TRUE(commandsEnabled()) << "a failed connection leaves the buttons as they were";
}

struct ProcessorOutcome {
  const char* name;
  void (*prepare)(CashRegister&);
  bool addressFound;
  std::int32_t version;  // FirmwareVersion afterwards (0: unchanged from 0)
  QString box;
  Icon icon;
};

class ProcessorConnection : public CommandsTest, public ::testing::WithParamInterface<ProcessorOutcome> {};

TEST_P(ProcessorConnection, ReportsAndLeavesTheStateOfItsRow) {
  const ProcessorOutcome& row = GetParam();
  plug(true, false);
  row.prepare(register_);
  EXPECT_FALSE(connect(Link::Processor));
  const QString title = row.icon == Icon::Error ? "Ошибка" : "Предупреждение";
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{row.box, title, row.icon}}));
  EXPECT_TRUE(state_.port.isOpen()) << "the chosen port stays open";
  EXPECT_EQ(state_.registerAddress, row.addressFound ? 0xFE : 0xFF);
  EXPECT_EQ(state_.firmwareVersion, row.version);
  EXPECT_EQ(state_.memoryMap.entries, memmap::MemoryMap{}.entries) << "no map loaded";
  EXPECT_FALSE(state_.interfaceReady);
  EXPECT_FALSE(commandsEnabled());
  EXPECT_EQ(form_.statusText(), kNoContactDialog + "ККМ");
}

const QString kNoRegister = "Нет связи с ККМ";
const QString kOldFirmware = "В ККМ необходимо установить ПО версии не ниже 1.0.5";

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
                         false, 0, kNoRegister, Icon::Error},
        ProcessorOutcome{"VersionQueryFails",
                         [](CashRegister& r) { r.faultOnCommand(0x14, RegisterFault::Silent); }, true, 0,
                         kNoRegister, Icon::Error},
        ProcessorOutcome{"Version104", [](CashRegister& r) { r.setFirmwareVersion(0x01, 0x04); }, true, 104,
                         kOldFirmware, Icon::Warning},
        ProcessorOutcome{"Version106", [](CashRegister& r) { r.setFirmwareVersion(0x01, 0x06); }, true, 106,
                         kOldFirmware, Icon::Warning},
        ProcessorOutcome{"VersionReplyCorrupt",
                         [](CashRegister& r) { r.faultOnCommand(0x14, RegisterFault::BadReplyChecksum); },
                         true, 0, kOldFirmware, Icon::Warning}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandsTest, KiaProbeFailureAndTheProbeAddressBeforeAndAfterTheFirstSuccess) {
  // No controller on the line: the probe goes unanswered, and standard error
  // gets exactly one line with the reason.
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(connect(Link::Kia));
  EXPECT_EQ(
      ::testing::internal::GetCapturedStderr(),
      "kkm-netnum: connection on COM1 failed: no-kia-answer: микроконтроллер КИА не ответил за 50 мс\n");
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{"Нет связи с микроконтроллером КИА", "Ошибка", Icon::Error}}));
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

TEST_F(CommandsTest, ClosingTheDialogAfterASuccessReportsNoConnection) {
  plug(true, false);
  ASSERT_TRUE(connect(Link::Processor));
  connectAndClose();
  EXPECT_FALSE(state_.interfaceReady);
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

}  // namespace
}  // namespace kkm::ui
