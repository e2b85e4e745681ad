#ifndef ZELMORA_PROTOCOL_H
#define ZELMORA_PROTOCOL_H

// The bytes exchanged with the meter: command reports, reply reports, the
// records frame and the 4-byte reading cell. Pure functions over buffers;
// nothing here performs I/O or knows about threads.

#include <QString>

#include <array>
#include <cstddef>

// Device identity.
constexpr unsigned short METER_VENDOR_ID = 0x1A86;
constexpr unsigned short METER_PRODUCT_ID = 0xE429;

// Every frame, in both directions, starts with these two bytes.
constexpr std::array<unsigned char, 2> FRAME_HEADER = {0xAB, 0xCD};
constexpr unsigned char FRAME_HEADER_0 = FRAME_HEADER[0];
constexpr unsigned char FRAME_HEADER_1 = FRAME_HEADER[1];

// The only four commands the meter knows.
constexpr unsigned char CMD_GET_READING = 0x05;
constexpr unsigned char CMD_GET_RECORDS = 0x07;
constexpr unsigned char CMD_GET_RECORD_COUNT = 0x08;
constexpr unsigned char CMD_GET_RANGE = 0x0A;

// Reply types, at report byte 5.
constexpr unsigned char REPLY_READING = 0x52;
constexpr unsigned char REPLY_STATUS = 0x54;
constexpr unsigned char REPLY_RECORDS = 0x53;

constexpr int REPLY_TIMEOUT_MS = 1000;
constexpr int MAX_STORED_RECORDS = 499;
constexpr float OVERLOAD_VALUE = 1100.0f;

// Report sizes. The reading and status replies are read short: only the
// first bytes of the 64-byte input report are asked for.
constexpr int COMMAND_REPORT_SIZE = 7;
constexpr int INPUT_REPORT_SIZE = 64;
constexpr int FRAME_BYTES_PER_REPORT = INPUT_REPORT_SIZE - 1;
constexpr int READING_REPLY_SIZE = 12;
constexpr int RANGE_REPLY_SIZE = 11;
constexpr int RECORD_COUNT_REPLY_SIZE = 11;

// Size of one reading cell, live or stored.
constexpr int READING_CELL_SIZE = 4;

// ---- Commands ---------------------------------------------------------------

// 00 05 AB CD 05 00 <code>: report number, frame bytes in this report, then
// the 5-byte frame.
std::array<unsigned char, COMMAND_REPORT_SIZE> commandReport(unsigned char code);

// ---- Short replies (buf holds at least the bytes named below) -----------------

// Reading reply, 12-byte buffer: byte 1 = 0xAB and byte 5 = REPLY_READING.
// Byte 2 is deliberately not examined.
bool acceptReadingReply(const unsigned char *buf);

// Range reply, 11-byte buffer: byte 1 = 0xAB, byte 5 = REPLY_STATUS and the
// echoed code at byte 6 = CMD_GET_RANGE.
bool acceptRangeReply(const unsigned char *buf);

// Record-count reply at download start, 11-byte buffer: the read delivered
// something, byte 1 = 0xAB, byte 5 = REPLY_STATUS. The echoed code is not
// examined.
bool acceptRecordCountReply(const unsigned char *buf, int readResult);

// Stored-record count of an accepted record-count reply: byte 8 * 256 + byte 7.
int recordCountOf(const unsigned char *buf);

// Whether a reported record count starts a download (1 ... MAX_STORED_RECORDS).
bool isDownloadableCount(int count);

// Range reply fields: mode byte 7 (0 = manual, anything else automatic) and
// range code byte 8.
bool rangeIsAutomatic(const unsigned char *rangeReply);
int rangeCodeOf(const unsigned char *rangeReply);

// ---- Records frame ------------------------------------------------------------

// Reports read for a records reply of n records: 1 + n / 15, and never fewer
// than the frame needs. 0 for negative n.
int recordsReportCount(int n);

// Buffer index of frame byte u once the reports are concatenated: every
// report starts with a count byte that carries no frame data.
std::size_t framePos(std::size_t u);

// Frame header check: buffer indices 1 = 0xAB, 2 = 0xCD, 5 = REPLY_RECORDS.
// False when the buffer is too short to hold them.
bool acceptRecordsHeader(const unsigned char *buf, std::size_t size);

// Closing word check: frame bytes 4n + 7 (low) and 4n + 8 (high), both inside
// the buffer, equal to 4n + 5, compared as 16-bit values.
bool acceptRecordsClosingWord(const unsigned char *buf, std::size_t size, int n);

// Copies the cell of record r out of the frame. False (cell untouched) when any
// of its four bytes lies outside the buffer or r is negative.
bool recordCell(const unsigned char *buf, std::size_t size, int r,
                std::array<unsigned char, READING_CELL_SIZE> &cell);

// ---- Reading cell -------------------------------------------------------------

using ReadingCell = std::array<unsigned char, READING_CELL_SIZE>;

// The cell of an accepted reading reply (report bytes 6-9).
ReadingCell readingCellOf(const unsigned char *readingReply);

// raw (+ 65536 when the bit-16 flag is exactly 1) / divisor, in single
// precision, as the meter's own display computes it.
float scaledValue(const ReadingCell &cell);

// An overload is a value, not an error: it is valid whatever the unit code.
bool isOverload(float value);

// Decimals shown: 1, 2, or 3 for any other decimals code.
int decimalsOf(const ReadingCell &cell);

// Unit code (formatByte low nibble) and whether it names a unit.
int unitCodeOf(const ReadingCell &cell);
bool isListedUnit(int unitCode);

// The number part of a live reading: the value is scaled to whole digits in
// single precision first, so a product that lands on an exact half rounds
// away from zero (2.0005 shows as 2.001).
QString liveNumberText(float value, int decimals);

// The number part of a stored reading: the value widened and formatted
// directly (2.0005f shows as 2.000).
QString storedNumberText(float value, int decimals);

#endif
