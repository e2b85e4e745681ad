#ifndef ZELMORA_GUEST_METER_REPLIES_H
#define ZELMORA_GUEST_METER_REPLIES_H

/* The firmware side of the meter's HID protocol, as the UHID meter in the
 * virtual machine plays it: which input reports answer which command. It is
 * written apart from the program's own protocol code on purpose, so that the
 * two can disagree and the test can notice. */

#include <stddef.h>
#include <stdint.h>

enum { METER_REPORT_SIZE = 64, METER_MAX_RECORDS = 499 };

/* A frame of 499 records is 4 * 499 + 9 bytes, 63 of them per report. */
enum { METER_MAX_REPLY_REPORTS = (4 * METER_MAX_RECORDS + 9 + 62) / 63 };

struct meter_state {
    int record_count;      /* reported by the count command, 0..65535; at most 499 are held */
    uint8_t range_mode;    /* 0 manual, anything else automatic */
    uint8_t range_code;    /* 1..10 */
    uint8_t reading[4];    /* the current ReadingCell */
};

struct meter_reply {
    int report_count;
    uint8_t reports[METER_MAX_REPLY_REPORTS][METER_REPORT_SIZE];
};

/* The stored record r (0-based): 10.000 mΩ + r µΩ, except every record with
 * r % 50 == 7, which holds an overload. The guest test derives its expected
 * table from the same rule. */
void meter_record_cell(int r, uint8_t cell[4]);

/* Finds a command frame (AB CD, length, code) anywhere in an output report.
 * hidraw hands the report number over with the frame, a real USB meter would
 * not see it, so the frame is located by its header rather than by offset.
 * Returns the command code, or -1 when there is no complete frame. */
int meter_find_command(const uint8_t *data, size_t size);

/* Builds the answer to one command. Returns 0 for a command the meter does
 * not know (it then answers nothing), 1 otherwise. */
int meter_build_reply(const struct meter_state *state, int code, struct meter_reply *reply);

#endif
