#include "meter_replies.h"

#include <string.h>

enum {
    HEADER_0 = 0xAB,
    HEADER_1 = 0xCD,
    CMD_READING = 0x05,
    CMD_RECORDS = 0x07,
    CMD_RECORD_COUNT = 0x08,
    CMD_RANGE = 0x0A,
    TYPE_READING = 0x52,
    TYPE_RECORDS = 0x53,
    TYPE_STATUS = 0x54,
    FRAME_BYTES_PER_REPORT = METER_REPORT_SIZE - 1,
};

void meter_record_cell(int r, uint8_t cell[4])
{
    if (r % 50 == 7) {
        /* 11000 / 10 = 1100: the meter's overload value */
        cell[0] = 0xF8;
        cell[1] = 0x2A;
        cell[2] = 0x00;
        cell[3] = 0x01;
        return;
    }
    const unsigned raw = 10000u + (unsigned)r;
    cell[0] = (uint8_t)(raw & 0xFF);
    cell[1] = (uint8_t)(raw >> 8);
    cell[2] = 0x01; /* three decimals, mΩ */
    cell[3] = 0x04; /* divide by 1000 */
}

int meter_find_command(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i + 5 <= size; ++i) {
        if (data[i] == HEADER_0 && data[i + 1] == HEADER_1 && data[i + 2] == 0x05 && data[i + 3] == 0x00)
            return data[i + 4];
    }
    return -1;
}

/* Spreads one frame over as many input reports as it needs; byte 0 of each
 * report says how many frame bytes follow in it. */
static void split_frame(const uint8_t *frame, int frame_size, struct meter_reply *reply)
{
    memset(reply, 0, sizeof *reply);
    int done = 0;
    while (done < frame_size && reply->report_count < METER_MAX_REPLY_REPORTS) {
        int chunk = frame_size - done;
        if (chunk > FRAME_BYTES_PER_REPORT)
            chunk = FRAME_BYTES_PER_REPORT;
        uint8_t *report = reply->reports[reply->report_count++];
        report[0] = (uint8_t)chunk;
        memcpy(report + 1, frame + done, (size_t)chunk);
        done += chunk;
    }
}

static int start_frame(uint8_t *frame, int frame_size, uint8_t type)
{
    frame[0] = HEADER_0;
    frame[1] = HEADER_1;
    frame[2] = (uint8_t)(frame_size & 0xFF);
    frame[3] = (uint8_t)(frame_size >> 8);
    frame[4] = type;
    return 5;
}

int meter_build_reply(const struct meter_state *state, int code, struct meter_reply *reply)
{
    uint8_t frame[4 * METER_MAX_RECORDS + 9];
    memset(frame, 0, sizeof frame);
    int size = 0;

    switch (code) {
    case CMD_READING:
        size = start_frame(frame, 11, TYPE_READING);
        memcpy(frame + size, state->reading, 4);
        size = 11;
        break;
    case CMD_RANGE:
        size = start_frame(frame, 10, TYPE_STATUS);
        frame[size++] = CMD_RANGE;
        frame[size++] = state->range_mode;
        frame[size++] = state->range_code;
        size = 10;
        break;
    case CMD_RECORD_COUNT:
        size = start_frame(frame, 10, TYPE_STATUS);
        frame[size++] = CMD_RECORD_COUNT;
        frame[size++] = (uint8_t)(state->record_count & 0xFF);
        frame[size++] = (uint8_t)((state->record_count >> 8) & 0xFF);
        size = 10;
        break;
    case CMD_RECORDS: {
        int n = state->record_count;
        if (n > METER_MAX_RECORDS)
            n = METER_MAX_RECORDS;
        if (n < 0)
            n = 0;
        const int frame_size = 4 * n + 9;
        start_frame(frame, frame_size, TYPE_RECORDS);
        /* frame bytes 5 and 6 carry nothing the program reads */
        for (int r = 0; r < n; ++r)
            meter_record_cell(r, frame + 7 + 4 * r);
        const unsigned closing = 4u * (unsigned)n + 5u;
        frame[4 * n + 7] = (uint8_t)(closing & 0xFF);
        frame[4 * n + 8] = (uint8_t)(closing >> 8);
        size = frame_size;
        break;
    }
    default:
        return 0;
    }

    split_frame(frame, size, reply);
    return 1;
}
