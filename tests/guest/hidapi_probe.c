/* First check inside the virtual machine, before the window is involved: the
 * real hidapi (hidraw backend) finds the UHID meter, and the four exchanges
 * come back the way the kernel's report queue delivers them: a short read
 * returns the head of one report and the rest of that report is gone.
 *
 * usage: hidapi-probe EXPECTED_RECORD_COUNT
 * Prints "probe: <what> <bytes>" per exchange and ends with "probe: ok" or
 * "probe: FAIL <reason>". */

#define _POSIX_C_SOURCE 200809L

#include <hidapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void print_bytes(const char *what, const unsigned char *buf, int n)
{
    printf("probe: %s %d:", what, n);
    for (int i = 0; i < n; ++i)
        printf(" %02X", buf[i]);
    printf("\n");
}

static int fail(const char *reason)
{
    printf("probe: FAIL %s\n", reason);
    return 1;
}

static int exchange(hid_device *dev, unsigned char code, unsigned char *buf, int len)
{
    const unsigned char command[7] = {0x00, 0x05, 0xAB, 0xCD, 0x05, 0x00, code};
    memset(buf, 0, (size_t)len);
    if (hid_write(dev, command, sizeof command) != (int)sizeof command)
        return -2;
    return hid_read_timeout(dev, buf, (size_t)len, 1000);
}

/* The device node appears a moment after the meter creates its device. */
static hid_device *open_meter(void)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        hid_device *dev = hid_open(0x1A86, 0xE429, NULL);
        if (dev)
            return dev;
        const struct timespec pause = {0, 100 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    return NULL;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return fail("usage: hidapi-probe EXPECTED_RECORD_COUNT");
    const int expected_count = atoi(argv[1]);
    setvbuf(stdout, NULL, _IOLBF, 0);

    if (hid_init() != 0)
        return fail("hid_init");
    struct hid_device_info *devices = hid_enumerate(0x1A86, 0xE429);
    int found = 0;
    for (struct hid_device_info *d = devices; d; d = d->next) {
        printf("probe: enumerated %s bus %d\n", d->path, (int)d->bus_type);
        ++found;
    }
    hid_free_enumeration(devices);

    hid_device *dev = open_meter();
    if (!dev)
        return fail(found ? "hid_open failed on an enumerated meter" : "no meter enumerated");
    hid_set_nonblocking(dev, 1);

    unsigned char buf[64 * 40];
    int n = exchange(dev, 0x08, buf, 11);
    print_bytes("count", buf, n);
    if (n != 11 || buf[1] != 0xAB || buf[5] != 0x54)
        return fail("record-count reply");
    const int count = buf[8] * 256 + buf[7];
    if (count > 499)
        return fail("more records than the meter can hold");
    if (count != expected_count)
        return fail("record count differs from the meter's");

    /* The 53 bytes the last read left behind must not come back now. */
    n = exchange(dev, 0x0A, buf, 11);
    print_bytes("range", buf, n);
    if (n != 11 || buf[1] != 0xAB || buf[5] != 0x54 || buf[6] != 0x0A)
        return fail("range reply");

    n = exchange(dev, 0x05, buf, 12);
    print_bytes("reading", buf, n);
    if (n != 12 || buf[1] != 0xAB || buf[5] != 0x52)
        return fail("reading reply");

    const int reports = (4 * count + 9 + 62) / 63;
    n = exchange(dev, 0x07, buf, 64);
    int total = n;
    for (int i = 1; i < reports && n > 0; ++i) {
        n = hid_read_timeout(dev, buf + 64 * i, 64, 1000);
        total += n;
    }
    printf("probe: records %d reports, %d bytes\n", reports, total);
    if (total != 64 * reports)
        return fail("records transfer short");
    const int u = 4 * count + 7; /* the closing word's frame position */
    const int low = buf[u + 1 + u / 63], high = buf[u + 2 + (u + 1) / 63];
    if (buf[1] != 0xAB || buf[2] != 0xCD || buf[5] != 0x53 || low + 256 * high != 4 * count + 5)
        return fail("records frame");

    /* Nothing may remain queued after a complete answer. */
    n = hid_read_timeout(dev, buf, 64, 300);
    if (n != 0)
        return fail("a report was left over after the records");

    hid_close(dev);
    hid_exit();
    printf("probe: ok\n");
    return 0;
}
