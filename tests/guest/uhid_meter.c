/* A stand-in for the meter on the real Linux HID stack: a UHID device with the
 * meter's vendor and product id that answers its four commands.
 *
 * Control lines on standard input, each acknowledged on standard output with
 * "ok <line>" once it has taken effect:
 *   records N     how many stored records the meter reports (and holds)
 *   silent on|off stop or resume answering
 *   delay MS      answer each command MS milliseconds late
 *   unplug        destroy the HID device (as pulling the cable would)
 *   unplug on XX  destroy it, unanswered, when command XX next arrives: the
 *                 moment when the program is sure to be waiting for a reply
 *   replug on XX MS  the same, and create it again MS milliseconds later
 *   plug          create it again
 *   other plug    create a second, unrelated HID device (as a mouse would be)
 *   other unplug  destroy that one
 *   quit          destroy the device and exit (so does the end of input)
 * Events on standard output, one per line:
 *   plugged, unplugged, opened, closed   device life as the kernel reports it
 *   other plugged, other unplugged       the unrelated device's
 *   command XX                           a command the meter recognised
 *   unknown N                            an output report without a command frame
 *   malformed XX XX ...                  a command not written as 00 05 AB CD 05 00 code,
 *                                        alone or padded with zeros to 65 bytes
 *   overlap XX                           a command written while an answer was still due
 */

#define _POSIX_C_SOURCE 200809L

#include "meter_replies.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { METER_VENDOR = 0x1A86, METER_PRODUCT = 0xE429, BUS_USB_ID = 0x03 };
/* The unrelated device: the pid.codes test ids, nothing the program opens. */
enum { OTHER_VENDOR = 0x1209, OTHER_PRODUCT = 0x0001 };

static const uint8_t report_descriptor[] = {
    0x06, 0x00, 0xFF, /* usage page: vendor defined 0xFF00 */
    0x09, 0x01,       /* usage 1 */
    0xA1, 0x01,       /* collection: application */
    0x09, 0x02,       /*   usage 2 */
    0x15, 0x00,       /*   logical minimum 0 */
    0x26, 0xFF, 0x00, /*   logical maximum 255 */
    0x75, 0x08,       /*   report size: 8 bits */
    0x95, 0x40,       /*   report count: 64 */
    0x81, 0x02,       /*   input: data, variable, absolute */
    0x09, 0x03,       /*   usage 3 */
    0x15, 0x00,       /*   logical minimum 0 */
    0x26, 0xFF, 0x00, /*   logical maximum 255 */
    0x75, 0x08,       /*   report size: 8 bits */
    0x95, 0x40,       /*   report count: 64 */
    0x91, 0x02,       /*   output: data, variable, absolute */
    0xC0,             /* end collection */
};

struct meter {
    int uhid_fd;
    int plugged;
    int other_fd;
    int other_plugged;
    int silent;
    int delay_ms;
    int unplug_on; /* command code, or -1 */
    int replug_after_ms; /* with unplug_on: plug in again this long after, or -1 */
    long long replug_due_ms; /* when the scheduled plug-in is due, or -1 */
    struct meter_state state;
    /* the one answer that may be waiting for its moment */
    int pending;
    long long pending_due_ms;
    struct meter_reply pending_reply;
};

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static int uhid_send(int fd, const struct uhid_event *ev)
{
    ssize_t n = write(fd, ev, sizeof *ev);
    if (n != (ssize_t)sizeof *ev) {
        fprintf(stderr, "uhid-meter: write to /dev/uhid failed: %s\n", n < 0 ? strerror(errno) : "short write");
        return -1;
    }
    return 0;
}

static int uhid_create(int fd, const char *name, uint32_t vendor, uint32_t product)
{
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = UHID_CREATE2;
    snprintf((char *)ev.u.create2.name, sizeof ev.u.create2.name, "%s", name);
    snprintf((char *)ev.u.create2.phys, sizeof ev.u.create2.phys, "uhid-meter");
    ev.u.create2.rd_size = sizeof report_descriptor;
    memcpy(ev.u.create2.rd_data, report_descriptor, sizeof report_descriptor);
    ev.u.create2.bus = BUS_USB_ID;
    ev.u.create2.vendor = vendor;
    ev.u.create2.product = product;
    ev.u.create2.version = 0x0100;
    return uhid_send(fd, &ev);
}

static int uhid_destroy(int fd)
{
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = UHID_DESTROY;
    return uhid_send(fd, &ev);
}

static int meter_plug(struct meter *m)
{
    if (uhid_create(m->uhid_fd, "Guest micro-ohm meter", METER_VENDOR, METER_PRODUCT) != 0)
        return -1;
    m->plugged = 1;
    printf("plugged\n");
    return 0;
}

static int meter_unplug(struct meter *m)
{
    if (uhid_destroy(m->uhid_fd) != 0)
        return -1;
    m->plugged = 0;
    m->pending = 0;
    printf("unplugged\n");
    return 0;
}

static int other_plug(struct meter *m)
{
    if (uhid_create(m->other_fd, "Guest unrelated device", OTHER_VENDOR, OTHER_PRODUCT) != 0)
        return -1;
    m->other_plugged = 1;
    printf("other plugged\n");
    return 0;
}

static int other_unplug(struct meter *m)
{
    if (uhid_destroy(m->other_fd) != 0)
        return -1;
    m->other_plugged = 0;
    printf("other unplugged\n");
    return 0;
}

static void send_reply(struct meter *m, const struct meter_reply *reply)
{
    for (int i = 0; i < reply->report_count; ++i) {
        struct uhid_event ev;
        memset(&ev, 0, sizeof ev);
        ev.type = UHID_INPUT2;
        ev.u.input2.size = METER_REPORT_SIZE;
        memcpy(ev.u.input2.data, reply->reports[i], METER_REPORT_SIZE);
        if (uhid_send(m->uhid_fd, &ev) != 0)
            return;
    }
}

static int zero_from(const uint8_t *data, size_t from, size_t size)
{
    for (size_t i = from; i < size; ++i) {
        if (data[i] != 0)
            return 0;
    }
    return 1;
}

static void handle_output(struct meter *m, const uint8_t *data, size_t size)
{
    const int code = meter_find_command(data, size);
    if (code < 0) {
        printf("unknown %zu\n", size);
        return;
    }
    printf("command %02X\n", code);
    /* The meter finds its frame anywhere, but the program is meant to write
     * exactly the report number, the frame's byte count and the frame. The
     * Windows HID stack pads every output report to the device's full length
     * with zeros, as it would for a real meter: that is the same command. */
    static const uint8_t expected_head[6] = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00};
    if (!(size == 7 || (size == 1 + METER_REPORT_SIZE && zero_from(data, 7, size))) ||
        memcmp(data, expected_head, sizeof expected_head) != 0) {
        printf("malformed");
        for (size_t i = 0; i < size && i < 16; ++i)
            printf(" %02X", data[i]);
        printf("\n");
    }
    if (m->pending)
        printf("overlap %02X\n", code);
    if (code == m->unplug_on) {
        m->unplug_on = -1;
        meter_unplug(m);
        if (m->replug_after_ms >= 0)
            m->replug_due_ms = now_ms() + m->replug_after_ms;
        return;
    }
    if (m->silent)
        return;

    struct meter_reply reply;
    if (!meter_build_reply(&m->state, code, &reply))
        return;
    if (m->delay_ms <= 0) {
        send_reply(m, &reply);
        return;
    }
    m->pending = 1;
    m->pending_due_ms = now_ms() + m->delay_ms;
    m->pending_reply = reply;
}

/* Requests for feature or input reports through the control pipe are not
 * part of the meter's protocol: refuse them as a device without them would. */
static void refuse_report_request(int fd, const struct uhid_event *req)
{
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    if (req->type == UHID_GET_REPORT) {
        ev.type = UHID_GET_REPORT_REPLY;
        ev.u.get_report_reply.id = req->u.get_report.id;
        ev.u.get_report_reply.err = EIO;
    } else {
        ev.type = UHID_SET_REPORT_REPLY;
        ev.u.set_report_reply.id = req->u.set_report.id;
        ev.u.set_report_reply.err = EIO;
    }
    uhid_send(fd, &ev);
}

static void handle_uhid_event(struct meter *m)
{
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    ssize_t n = read(m->uhid_fd, &ev, sizeof ev);
    if (n <= 0)
        return;
    switch (ev.type) {
    case UHID_OPEN:
        printf("opened\n");
        break;
    case UHID_CLOSE:
        printf("closed\n");
        break;
    case UHID_OUTPUT:
        handle_output(m, ev.u.output.data, ev.u.output.size);
        break;
    case UHID_GET_REPORT:
    case UHID_SET_REPORT:
        refuse_report_request(m->uhid_fd, &ev);
        break;
    default:
        break;
    }
}

/* The unrelated device only has to exist; its events are read and dropped. */
static void handle_other_event(struct meter *m)
{
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    if (read(m->other_fd, &ev, sizeof ev) <= 0)
        return;
    if (ev.type == UHID_GET_REPORT || ev.type == UHID_SET_REPORT)
        refuse_report_request(m->other_fd, &ev);
}

/* Returns 1 to go on, 0 to quit. */
static int handle_control_line(struct meter *m, char *line)
{
    int value = 0;
    int after = 0;
    unsigned code = 0;
    int ok = 1;
    if (strcmp(line, "quit") == 0)
        return 0;
    if (sscanf(line, "records %d", &value) == 1 && value >= 0 && value <= 65535) {
        m->state.record_count = value;
    } else if (strcmp(line, "silent on") == 0) {
        m->silent = 1;
    } else if (strcmp(line, "silent off") == 0) {
        m->silent = 0;
    } else if (sscanf(line, "delay %d", &value) == 1 && value >= 0) {
        m->delay_ms = value;
    } else if (sscanf(line, "replug on %x %d", &code, &after) == 2 && code <= 0xFF && after >= 0) {
        m->unplug_on = (int)code;
        m->replug_after_ms = after;
    } else if (sscanf(line, "unplug on %x", &code) == 1 && code <= 0xFF) {
        m->unplug_on = (int)code;
        m->replug_after_ms = -1;
    } else if (strcmp(line, "unplug") == 0) {
        ok = m->plugged && meter_unplug(m) == 0;
    } else if (strcmp(line, "sync") == 0) {
        /* Every command written before this line is told before its "ok":
           counts read after it are complete, however slow the machine. */
        struct pollfd queued = {.fd = m->uhid_fd, .events = POLLIN};
        while (poll(&queued, 1, 0) > 0 && (queued.revents & POLLIN))
            handle_uhid_event(m);
    } else if (strcmp(line, "plug") == 0) {
        ok = !m->plugged && meter_plug(m) == 0;
    } else if (strcmp(line, "other plug") == 0) {
        ok = !m->other_plugged && other_plug(m) == 0;
    } else if (strcmp(line, "other unplug") == 0) {
        ok = m->other_plugged && other_unplug(m) == 0;
    } else {
        ok = 0;
    }
    printf("%s %s\n", ok ? "ok" : "error", line);
    return 1;
}

/* Returns 1 to go on, 0 at the end of input or on "quit". */
static int handle_control_input(struct meter *m, char *buffer, size_t *used, size_t capacity)
{
    ssize_t n = read(STDIN_FILENO, buffer + *used, capacity - *used - 1);
    if (n <= 0)
        return 0;
    *used += (size_t)n;
    buffer[*used] = '\0';
    char *start = buffer;
    char *newline;
    while ((newline = strchr(start, '\n')) != NULL) {
        *newline = '\0';
        if (newline > start && newline[-1] == '\r')
            newline[-1] = '\0';
        if (*start != '\0' && !handle_control_line(m, start))
            return 0;
        start = newline + 1;
    }
    *used = strlen(start);
    memmove(buffer, start, *used + 1);
    if (*used == capacity - 1)
        *used = 0; /* an endless line: drop it */
    return 1;
}

int main(int argc, char **argv)
{
    struct meter m;
    memset(&m, 0, sizeof m);
    m.unplug_on = -1;
    m.replug_after_ms = -1;
    m.replug_due_ms = -1;
    m.state.range_mode = 1;
    m.state.range_code = 8;
    /* 12345 / 1000, three decimals, mΩ */
    m.state.reading[0] = 0x39;
    m.state.reading[1] = 0x30;
    m.state.reading[2] = 0x01;
    m.state.reading[3] = 0x04;
    int start_plugged = 1;

    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
            m.state.record_count = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--unplugged") == 0) {
            start_plugged = 0;
        } else {
            fprintf(stderr, "usage: uhid-meter [--records N] [--unplugged]\n");
            return 2;
        }
    }

    setvbuf(stdout, NULL, _IOLBF, 0);
    m.uhid_fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    m.other_fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (m.uhid_fd < 0 || m.other_fd < 0) {
        fprintf(stderr, "uhid-meter: cannot open /dev/uhid: %s\n", strerror(errno));
        return 1;
    }
    if (start_plugged && meter_plug(&m) != 0)
        return 1;
    printf("ready\n");

    char control[512];
    size_t control_used = 0;
    for (;;) {
        long long due = -1;
        if (m.pending)
            due = m.pending_due_ms;
        if (m.replug_due_ms >= 0 && (due < 0 || m.replug_due_ms < due))
            due = m.replug_due_ms;
        int timeout = -1;
        if (due >= 0) {
            long long left = due - now_ms();
            timeout = left > 0 ? (int)left : 0;
        }
        struct pollfd fds[3] = {
            {.fd = m.uhid_fd, .events = POLLIN},
            {.fd = m.other_fd, .events = POLLIN},
            {.fd = STDIN_FILENO, .events = POLLIN},
        };
        int ready = poll(fds, 3, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            handle_uhid_event(&m);
        if (fds[1].revents & POLLIN)
            handle_other_event(&m);
        if (fds[2].revents & (POLLIN | POLLHUP)) {
            if (!handle_control_input(&m, control, &control_used, sizeof control))
                break;
        }
        if (m.pending && now_ms() >= m.pending_due_ms) {
            m.pending = 0;
            send_reply(&m, &m.pending_reply);
        }
        if (m.replug_due_ms >= 0 && now_ms() >= m.replug_due_ms) {
            m.replug_due_ms = -1;
            if (!m.plugged)
                meter_plug(&m);
        }
    }

    if (m.plugged)
        meter_unplug(&m);
    if (m.other_plugged)
        other_unplug(&m);
    close(m.uhid_fd);
    close(m.other_fd);
    return 0;
}
