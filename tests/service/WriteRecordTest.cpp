// The write record's file: one record per device whatever name reached it,
// read back exactly as written, keyed by device and link, and refused when
// torn, damaged or not a record of the port asked about.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "serial/Platform.h"
#include "service/WriteRecord.h"
#include "tests/support/StateHome.h"

namespace kkm::service {
namespace {

#ifndef _WIN32
TEST(WriteRecordFile, OneDeviceUnderTwoNamesHasOneRecord) {
  namespace fs = std::filesystem;
  const std::string device = test::StateHome() + "/ttyUSB0";
  const std::string alias = test::StateHome() + "/by-id-adapter";
  std::ofstream(device) << "";
  fs::create_symlink(device, alias);
  ::setenv("KKM_COM9", alias.c_str(), 1);
  const auto platform = serial::MakeNativePlatform();
  WriteRecord record{"COM9", DeviceOf(*platform, "COM9"), Link::Kia, 0xFE, 0xBA};
  ::unsetenv("KKM_COM9");
  ASSERT_TRUE(SaveRecord(record));
  for (const std::string& name : {device, alias})
    EXPECT_EQ(LoadRecord(DeviceOf(*platform, name), Link::Kia, name).record, record) << name;
}
#endif

TEST(WriteRecordFile, RoundTripsAndIsKeyedByPortAndLink) {
  const WriteRecord cpu{"/dev/ttyUSB0", "/dev/ttyUSB0", Link::Processor, 0xFE, 0xBA, true, 0xFE, 0x37};
  WriteRecord kia = cpu;
  kia.link = Link::Kia;
  kia.portName = "COM3";
  kia.device = "/dev/ttyS2";
  ASSERT_TRUE(SaveRecord(cpu));
  ASSERT_TRUE(SaveRecord(kia));
  EXPECT_EQ(LoadRecord("/dev/ttyUSB0", Link::Processor, "/dev/ttyUSB0").record, cpu);
  EXPECT_EQ(LoadRecord("/dev/ttyS2", Link::Kia, "COM3").record, kia);
  for (const auto& [device, link] : {std::pair<const char*, Link>{"/dev/ttyUSB0", Link::Kia},
                                     {"/dev/ttyS2", Link::Processor},
                                     {"_dev_ttyUSB0", Link::Processor}})
    EXPECT_EQ(LoadRecord(device, link, device).status, RecordStatus::None) << device;
  EXPECT_TRUE(RemoveRecord(kia));
  EXPECT_EQ(LoadRecord("/dev/ttyS2", Link::Kia, "COM3").status, RecordStatus::None);
  EXPECT_TRUE(RemoveRecord(kia)) << "a record not there counts as removed";
  // No temporary file stays behind.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(test::StateHome() + "/kkm-netnum"))
    ++files;
  EXPECT_EQ(files, 1u);
}

TEST(WriteRecordFile, TornOrDamagedTextIsRefused) {
  const WriteRecord record{"COM1", "/dev/ttyS0", Link::Processor, 0xFE, 0xBA, true, 0xFE, 0x37};
  const std::string text = FormatRecord(record);
  // The earlier format (always with the old bytes) is still read.
  WriteRecord earlier;
  std::string version1 = text;
  version1.replace(0, 9, "version=1");
  ASSERT_TRUE(ParseRecord(version1, earlier));
  EXPECT_EQ(earlier, record);
  version1.replace(version1.find("device=/dev/ttyS0"), 17, "device=");
  EXPECT_TRUE(ParseRecord(version1, earlier) && earlier.device == "COM1");
  WriteRecord parsed;
  ASSERT_TRUE(ParseRecord(text, parsed));
  EXPECT_EQ(parsed, record);
  // Every torn file: each proper prefix.
  for (std::size_t length = 0; length + 1 < text.size(); ++length)
    EXPECT_FALSE(ParseRecord(text.substr(0, length), parsed)) << length;
  const auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string damaged = text;
    damaged.replace(damaged.find(from), from.size(), to);
    return damaged;
  };
  for (const std::string& damaged :
       {replaced("version=2", "version=3"), replaced("checksum_new=0xF3", "checksum_new=0xF4"),
        replaced("checksum_old=0x37\n", ""), replaced("device=/dev/ttyS0", "device="),
        replaced("link=cpu", "link=usb"), replaced("new=0xBA", "new=0xba"), replaced("new=0xBA", "new=186"),
        replaced("address=0xFE\n", "address=0xFE\naddress=0xFE\n"), replaced("port=COM1\n", ""),
        replaced("port=COM1", "port="), replaced("end\n", "end\nmore\n"),
        replaced("link=cpu\n", "colour=red\n"), text + "\n"})
    EXPECT_FALSE(ParseRecord(damaged, parsed)) << damaged;
}

TEST(WriteRecordFile, AnUnusableFileIsReportedNotActedOn) {
  const std::string path = RecordPath("COM1", Link::Processor);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "version=1\nport=COM1\n";  // torn
  const LoadedRecord loaded = LoadRecord("COM1", Link::Processor, "COM1");
  EXPECT_EQ(loaded.status, RecordStatus::Unusable);
  EXPECT_NE(loaded.failure.text().find(path), std::string::npos) << loaded.failure.text();
  // A whole record that names another port is refused too.
  WriteRecord other{"COM2", "COM2", Link::Processor, 0xFE, 0xBA, true, 0xFE, 0x37};
  std::ofstream(path) << FormatRecord(other);
  EXPECT_EQ(LoadRecord("COM1", Link::Processor, "COM1").status, RecordStatus::Unusable);
  // Under a port's name only a record of the earlier format counts: a current
  // one there is the record of the device of that name.
  other = {"COM1", "COM1", Link::Processor, 0xFE, 0xBA, true, 0xFE, 0x37};
  std::ofstream(path) << FormatRecord(other);
  EXPECT_EQ(LoadRecord("/dev/ttyS0", Link::Processor, "COM1").status, RecordStatus::None);
}

}  // namespace
}  // namespace kkm::service
