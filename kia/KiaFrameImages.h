#pragma once
// The four code frames for the KIA controller's monitor, as fixed images. A
// frame is the lead-in 00 01, an 8051 routine, two zero bytes and an additive
// checksum; the monitor copies the routine to code address 0100h and calls it.
// Positions marked kSlot are filled before every send: the address high and low
// bytes, the value where the frame has one, and the checksum in the last byte.
// Every other byte goes on the line as it stands.
//
// Each image is written as a listing: one instruction's bytes on a line, then
// its offset in the frame (decimal, as the offset constants count), its code
// address once loaded (hex) and the instruction. R5, R6 and R7 of register
// bank 0 are reached by their direct addresses 05h, 06h and 07h. The EEPROM
// routines drive a two-wire bus on port 1: P1.4 is the clock, P1.5 the data
// line; SETB releases a line, and reading it then gives what the bus holds.
// The named offsets are checked below against the instruction they belong to.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kkm::kia {

// Placeholder for a position filled before every send.
inline constexpr std::uint8_t kSlot = 0x00;

// Memory write: DPTR := address, R5 := value, MOVX @DPTR,A, echo the value.
inline constexpr std::size_t kMemoryWriteFrameSize = 25;
inline constexpr std::size_t kMemoryWriteHighOffset = 4;
inline constexpr std::size_t kMemoryWriteLowOffset = 7;
inline constexpr std::size_t kMemoryWriteValueOffset = 10;
// clang-format off
inline constexpr auto kMemoryWriteImage = std::to_array<std::uint8_t>({
    0x00, 0x01,          //   0  lead-in
    0x75, 0x83, kSlot,   //   2 0100          MOV   DPH,#high     DPTR := the address
    0x75, 0x82, kSlot,   //   5 0103          MOV   DPL,#low
    0x75, 0x05, kSlot,   //   8 0106          MOV   05h,#value    R5 := the value
    0xE5, 0x05,          //  11 0109          MOV   A,05h         A := R5
    0xF0,                //  13 010B          MOVX  @DPTR,A       write the cell
    0xC2, 0x99,          //  14 010C          CLR   TI
    0xF5, 0x99,          //  16 010E          MOV   SBUF,A        echo the value
    0x30, 0x99, 0xFD,    //  18 0110          JNB   TI,$          wait until it has left
    0x22,                //  21 0113          RET                 back to the monitor
    0x00, 0x00,          //  22  two zero bytes
    kSlot,               //  24  checksum
});
// clang-format on

// Memory read: DPTR := address, MOVX A,@DPTR, send A.
inline constexpr std::size_t kMemoryReadFrameSize = 20;
inline constexpr std::size_t kMemoryReadHighOffset = 4;
inline constexpr std::size_t kMemoryReadLowOffset = 7;
// clang-format off
inline constexpr auto kMemoryReadImage = std::to_array<std::uint8_t>({
    0x00, 0x01,          //   0  lead-in
    0x75, 0x83, kSlot,   //   2 0100          MOV   DPH,#high     DPTR := the address
    0x75, 0x82, kSlot,   //   5 0103          MOV   DPL,#low
    0xE0,                //   8 0106          MOVX  A,@DPTR       A := the cell
    0xC2, 0x99,          //   9 0107          CLR   TI
    0xF5, 0x99,          //  11 0109          MOV   SBUF,A        send A
    0x30, 0x99, 0xFD,    //  13 010B          JNB   TI,$          wait until it has left
    0x22,                //  16 010E          RET                 back to the monitor
    0x00, 0x00,          //  17  two zero bytes
    kSlot,               //  19  checksum
});
// clang-format on

namespace listing {
// Both EEPROM routines begin alike: they check that the bus is free (fault
// 0x01 when the data line is held low, 0x02 when the clock is), send a start
// and the device code `device`, give up with fault 0x03 when the device does
// not acknowledge, then send the EEPROM address, high byte first.
// clang-format off
constexpr auto EepromPrologue(std::uint8_t device) {
  return std::to_array<std::uint8_t>({
      0x00, 0x01,          //   0  lead-in
      0xD2, 0x95,          //   2 0100          SETB  P1.5          release both lines
      0xD2, 0x94,          //   4 0102          SETB  P1.4
      0x30, 0x95, 0x22,    //   6 0104          JNB   P1.5,NOSDA    data held low: fault 01
      0x30, 0x94, 0x23,    //   9 0107          JNB   P1.4,NOSCL    clock held low: fault 02
      0xC2, 0x95,          //  12 010A          CLR   P1.5          start: data falls, clock high
      0xC2, 0x94,          //  14 010C          CLR   P1.4
      0x75, 0xE0, device,  //  16 010E          MOV   ACC,#device   device code, write
      0x75, 0x07, 0x08,    //  19 0111          MOV   07h,#08h      R7 := 8 bits
      0x33,                //  22 0114  DEV:    RLC   A             next bit, most significant first
      0x92, 0x95,          //  23 0115          MOV   P1.5,C        onto the data line
      0xD2, 0x94,          //  25 0117          SETB  P1.4          clock pulse
      0xC2, 0x94,          //  27 0119          CLR   P1.4
      0xD5, 0x07, 0xF6,    //  29 011B          DJNZ  07h,DEV
      0xD2, 0x95,          //  32 011E          SETB  P1.5          release the data line
      0xD2, 0x94,          //  34 0120          SETB  P1.4          acknowledge clock
      0x30, 0x95, 0x0C,    //  36 0122          JNB   P1.5,ACKED    acknowledged: data pulled low
      0x75, 0x99, 0x03,    //  39 0125          MOV   SBUF,#03h     no acknowledge: fault 03
      0x22,                //  42 0128          RET
      0x75, 0x99, 0x01,    //  43 0129  NOSDA:  MOV   SBUF,#01h     fault 01
      0x22,                //  46 012C          RET
      0x75, 0x99, 0x02,    //  47 012D  NOSCL:  MOV   SBUF,#02h     fault 02
      0x22,                //  50 0130          RET
      0xC2, 0x94,          //  51 0131  ACKED:  CLR   P1.4          end of the acknowledge clock
      0x75, 0xE0, kSlot,   //  53 0133          MOV   ACC,#high     address, high byte
      0x75, 0x07, 0x08,    //  56 0136          MOV   07h,#08h      R7 := 8 bits
      0x33,                //  59 0139  HIGH:   RLC   A             shift it out as above
      0x92, 0x95,          //  60 013A          MOV   P1.5,C
      0xD2, 0x94,          //  62 013C          SETB  P1.4
      0xC2, 0x94,          //  64 013E          CLR   P1.4
      0xD5, 0x07, 0xF6,    //  66 0140          DJNZ  07h,HIGH
      0xD2, 0x95,          //  69 0143          SETB  P1.5          acknowledge clock, not checked
      0xD2, 0x94,          //  71 0145          SETB  P1.4
      0xC2, 0x94,          //  73 0147          CLR   P1.4
      0x75, 0xE0, kSlot,   //  75 0149          MOV   ACC,#low      address, low byte
      0x75, 0x07, 0x08,    //  78 014C          MOV   07h,#08h      R7 := 8 bits
      0x33,                //  81 014F  LOW:    RLC   A             shift it out as above
      0x92, 0x95,          //  82 0150          MOV   P1.5,C
      0xD2, 0x94,          //  84 0152          SETB  P1.4
      0xC2, 0x94,          //  86 0154          CLR   P1.4
      0xD5, 0x07, 0xF6,    //  88 0156          DJNZ  07h,LOW
      0xD2, 0x95,          //  91 0159          SETB  P1.5          acknowledge clock, not checked
      0xD2, 0x94,          //  93 015B          SETB  P1.4
      0xC2, 0x94,          //  95 015D          CLR   P1.4
  });
}
// clang-format on

// The prologue and the rest of a routine, as one frame image.
template <std::size_t P, std::size_t R>
constexpr std::array<std::uint8_t, P + R> Joined(const std::array<std::uint8_t, P>& prologue,
                                                 const std::array<std::uint8_t, R>& rest) {
  std::array<std::uint8_t, P + R> image{};
  for (std::size_t i = 0; i < P; ++i) image[i] = prologue[i];
  for (std::size_t i = 0; i < R; ++i) image[P + i] = rest[i];
  return image;
}
}  // namespace listing

// EEPROM read: device code 0xA2 (bus address 0x51, write), two address bytes,
// repeated start, device code 0xA3 (read), then the data marker 0x11 and 64
// bytes streamed to the host.
inline constexpr std::size_t kEepromReadFrameSize = 194;
inline constexpr std::size_t kEepromReadDeviceWriteOffset = 18;  // 0xA2
inline constexpr std::size_t kEepromReadHighOffset = 55;
inline constexpr std::size_t kEepromReadLowOffset = 77;
inline constexpr std::size_t kEepromReadDeviceReadOffset = 107;  // 0xA3
inline constexpr std::size_t kEepromReadCountOffset = 137;       // R6 := bytes streamed to the host
// clang-format off
inline constexpr auto kEepromReadImage = listing::Joined(listing::EepromPrologue(0xA2),
                                                         std::to_array<std::uint8_t>({
    0xD2, 0x95,          //  97 015F          SETB  P1.5          repeated start
    0xD2, 0x94,          //  99 0161          SETB  P1.4
    0xC2, 0x95,          // 101 0163          CLR   P1.5
    0xC2, 0x94,          // 103 0165          CLR   P1.4
    0x75, 0xE0, 0xA3,    // 105 0167          MOV   ACC,#0A3h     device 51h, read
    0x75, 0x07, 0x08,    // 108 016A          MOV   07h,#08h      R7 := 8 bits
    0x33,                // 111 016D  RDEV:   RLC   A             shift it out as above
    0x92, 0x95,          // 112 016E          MOV   P1.5,C
    0xD2, 0x94,          // 114 0170          SETB  P1.4
    0xC2, 0x94,          // 116 0172          CLR   P1.4
    0xD5, 0x07, 0xF6,    // 118 0174          DJNZ  07h,RDEV
    0xD2, 0x95,          // 121 0177          SETB  P1.5          acknowledge clock, not checked
    0xD2, 0x94,          // 123 0179          SETB  P1.4
    0xC2, 0x94,          // 125 017B          CLR   P1.4
    0xC2, 0x99,          // 127 017D          CLR   TI
    0x75, 0x99, 0x11,    // 129 017F          MOV   SBUF,#11h     data marker
    0x30, 0x99, 0xFD,    // 132 0182          JNB   TI,$          wait until it has left
    0x75, 0x06, 0x40,    // 135 0185          MOV   06h,#40h      R6 := 64 bytes to stream
    0xD2, 0x95,          // 138 0188  BYTE:   SETB  P1.5          release data: the device drives it
    0x75, 0x07, 0x08,    // 140 018A          MOV   07h,#08h      R7 := 8 bits
    0xD2, 0x94,          // 143 018D  BIT:    SETB  P1.4          clock high
    0xA2, 0x95,          // 145 018F          MOV   C,P1.5        sample the data bit
    0x33,                // 147 0191          RLC   A             shift it into A
    0xC2, 0x94,          // 148 0192          CLR   P1.4
    0xD5, 0x07, 0xF6,    // 150 0194          DJNZ  07h,BIT
    0xD5, 0x06, 0x14,    // 153 0197          DJNZ  06h,MORE      more bytes to come
    0xC2, 0x99,          // 156 019A          CLR   TI
    0xF5, 0x99,          // 158 019C          MOV   SBUF,A        send the last byte
    0xD2, 0x95,          // 160 019E          SETB  P1.5          no acknowledge: the read ends
    0xD2, 0x94,          // 162 01A0          SETB  P1.4
    0xC2, 0x94,          // 164 01A2          CLR   P1.4
    0xC2, 0x95,          // 166 01A4          CLR   P1.5          stop: data rises, clock high
    0xD2, 0x94,          // 168 01A6          SETB  P1.4
    0xD2, 0x95,          // 170 01A8          SETB  P1.5
    0x30, 0x99, 0xFD,    // 172 01AA          JNB   TI,$          wait until it has left
    0x22,                // 175 01AD          RET                 back to the monitor
    0xC2, 0x99,          // 176 01AE  MORE:   CLR   TI
    0xF5, 0x99,          // 178 01B0          MOV   SBUF,A        send the byte
    0xC2, 0x95,          // 180 01B2          CLR   P1.5          acknowledge: the next byte
    0xD2, 0x94,          // 182 01B4          SETB  P1.4
    0xC2, 0x94,          // 184 01B6          CLR   P1.4
    0x30, 0x99, 0xFD,    // 186 01B8          JNB   TI,$          wait until it has left
    0x80, 0xCB,          // 189 01BB          SJMP  BYTE
    0x00, 0x00,          // 191  two zero bytes
    kSlot,               // 193  checksum
}));
// clang-format on

// EEPROM write: device code 0xA6 (bus address 0x53, write), two address bytes,
// the data marker 0x11, the value R6 times, stop, then AJMP 0x005 into the
// monitor, which sends one final byte.
inline constexpr std::size_t kEepromWriteFrameSize = 152;
inline constexpr std::size_t kEepromWriteDeviceOffset = 18;  // 0xA6
inline constexpr std::size_t kEepromWriteHighOffset = 55;
inline constexpr std::size_t kEepromWriteLowOffset = 77;
inline constexpr std::size_t kEepromWriteCountOffset = 107;  // R6 := times the value goes on the bus
inline constexpr std::size_t kEepromWriteValueOffset = 110;

// The routine was first written with a count of 0x40: it put the value on the
// bus 64 times in one write transaction, and a two-wire EEPROM takes that as a
// page write, so the value's neighbours up to the whole page were overwritten
// (writing 0x073E destroyed 0x0720..0x073F), while the checksum at 0x0740 is
// only ever moved for the one byte. The frame sent carries a count of 1.
inline constexpr std::uint8_t kEepromWriteOriginalCount = 0x40;
inline constexpr std::uint8_t kEepromWriteByteCount = 0x01;

// The original routine, with its count of 0x40 at offset 107.
// clang-format off
inline constexpr auto kEepromWriteOriginalImage = listing::Joined(listing::EepromPrologue(0xA6),
                                                                  std::to_array<std::uint8_t>({
    0xC2, 0x99,          //  97 015F          CLR   TI
    0x75, 0x99, 0x11,    //  99 0161          MOV   SBUF,#11h     data marker
    0x30, 0x99, 0xFD,    // 102 0164          JNB   TI,$          wait until it has left
    0x75, 0x06, 0x40,    // 105 0167          MOV   06h,#count    R6 := times the value goes out
    0x75, 0xE0, kSlot,   // 108 016A  DATA:   MOV   ACC,#value    the value, on every pass
    0x75, 0x07, 0x08,    // 111 016D          MOV   07h,#08h      R7 := 8 bits
    0x33,                // 114 0170  DBIT:   RLC   A             shift it out as above
    0x92, 0x95,          // 115 0171          MOV   P1.5,C
    0xD2, 0x94,          // 117 0173          SETB  P1.4
    0xC2, 0x94,          // 119 0175          CLR   P1.4
    0xD5, 0x07, 0xF6,    // 121 0177          DJNZ  07h,DBIT
    0xD2, 0x95,          // 124 017A          SETB  P1.5          acknowledge clock, not checked
    0xD2, 0x94,          // 126 017C          SETB  P1.4
    0xC2, 0x94,          // 128 017E          CLR   P1.4
    0xD5, 0x06, 0xE7,    // 130 0180          DJNZ  06h,DATA      again while R6 counts down
    0xC2, 0x95,          // 133 0183          CLR   P1.5          stop: data rises, clock high
    0xD2, 0x94,          // 135 0185          SETB  P1.4
    0xD2, 0x95,          // 137 0187          SETB  P1.5
    0x01, 0x05,          // 139 0189          AJMP  SEND          0005h in the monitor: send A, RET
    0xC2, 0x99,          // 141 018B          CLR   TI            not reached: the AJMP leaves
    0xF5, 0x99,          // 143 018D          MOV   SBUF,A
    0x30, 0x99, 0xFD,    // 145 018F          JNB   TI,$
    0x22,                // 148 0192          RET
    0x00, 0x00,          // 149  two zero bytes
    kSlot,               // 151  checksum
}));
// clang-format on

inline constexpr std::array<std::uint8_t, kEepromWriteFrameSize> kEepromWriteImage = [] {
  auto image = kEepromWriteOriginalImage;
  image[kEepromWriteCountOffset] = kEepromWriteByteCount;
  return image;
}();

// Compile-time checks of the listings above.
namespace listing {

inline constexpr std::uint8_t kMovDirectImmediate = 0x75;  // MOV direct,#data
inline constexpr std::uint8_t kDirectR5 = 0x05;
inline constexpr std::uint8_t kDirectR6 = 0x06;
inline constexpr std::uint8_t kDirectDpl = 0x82;
inline constexpr std::uint8_t kDirectDph = 0x83;
inline constexpr std::uint8_t kDirectAcc = 0xE0;

// The lead-in 00 01 first, then the routine, two zero bytes and the checksum slot.
template <std::size_t N>
constexpr bool IsFrame(const std::array<std::uint8_t, N>& image) {
  return N > 5 && image[0] == 0x00 && image[1] == 0x01 && image[N - 3] == 0x00 && image[N - 2] == 0x00 &&
         image[N - 1] == kSlot;
}

// `offset` holds the #data byte of a MOV `direct`,#data.
template <std::size_t N>
constexpr bool IsImmediateOf(const std::array<std::uint8_t, N>& image, std::size_t offset,
                             std::uint8_t direct) {
  return offset >= 2 && offset < N - 1 && image[offset - 2] == kMovDirectImmediate &&
         image[offset - 1] == direct;
}

// As IsImmediateOf, for a byte left to be filled before the send.
template <std::size_t N>
constexpr bool IsSlotOf(const std::array<std::uint8_t, N>& image, std::size_t offset, std::uint8_t direct) {
  return IsImmediateOf(image, offset, direct) && image[offset] == kSlot;
}

static_assert(kMemoryWriteImage.size() == kMemoryWriteFrameSize && IsFrame(kMemoryWriteImage));
static_assert(IsSlotOf(kMemoryWriteImage, kMemoryWriteHighOffset, kDirectDph));
static_assert(IsSlotOf(kMemoryWriteImage, kMemoryWriteLowOffset, kDirectDpl));
static_assert(IsSlotOf(kMemoryWriteImage, kMemoryWriteValueOffset, kDirectR5));

static_assert(kMemoryReadImage.size() == kMemoryReadFrameSize && IsFrame(kMemoryReadImage));
static_assert(IsSlotOf(kMemoryReadImage, kMemoryReadHighOffset, kDirectDph));
static_assert(IsSlotOf(kMemoryReadImage, kMemoryReadLowOffset, kDirectDpl));

static_assert(kEepromReadImage.size() == kEepromReadFrameSize && IsFrame(kEepromReadImage));
static_assert(IsImmediateOf(kEepromReadImage, kEepromReadDeviceWriteOffset, kDirectAcc));
static_assert(IsSlotOf(kEepromReadImage, kEepromReadHighOffset, kDirectAcc));
static_assert(IsSlotOf(kEepromReadImage, kEepromReadLowOffset, kDirectAcc));
static_assert(IsImmediateOf(kEepromReadImage, kEepromReadDeviceReadOffset, kDirectAcc));
static_assert(IsImmediateOf(kEepromReadImage, kEepromReadCountOffset, kDirectR6));

static_assert(kEepromWriteOriginalImage.size() == kEepromWriteFrameSize && IsFrame(kEepromWriteImage));
static_assert(IsImmediateOf(kEepromWriteImage, kEepromWriteDeviceOffset, kDirectAcc));
static_assert(IsSlotOf(kEepromWriteImage, kEepromWriteHighOffset, kDirectAcc));
static_assert(IsSlotOf(kEepromWriteImage, kEepromWriteLowOffset, kDirectAcc));
static_assert(IsImmediateOf(kEepromWriteImage, kEepromWriteCountOffset, kDirectR6));
static_assert(IsSlotOf(kEepromWriteImage, kEepromWriteValueOffset, kDirectAcc));
static_assert(kEepromWriteOriginalImage[kEepromWriteCountOffset] == kEepromWriteOriginalCount);
static_assert(kEepromWriteImage[kEepromWriteCountOffset] == kEepromWriteByteCount);

}  // namespace listing

}  // namespace kkm::kia
