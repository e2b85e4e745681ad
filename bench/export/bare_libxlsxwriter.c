/* The bare-library reference for bench_export: libxlsxwriter alone, in
 * constant-memory mode, writes the cells of a tab-separated table (UTF-8,
 * first line the header, no quoting) as centred text cells, columns B and E
 * at width 20, and starts a new worksheet (Sheet2, Sheet3, ...) with the
 * header again wherever a worksheet is full, as the program's export does.
 *
 * The table is read into memory first; only the workbook, from
 * workbook_new_opt to workbook_close, is timed. One JSON line goes to stdout:
 *   {"seconds": wall, "cpuSeconds": process CPU, "peakKiB": VmHWM after,
 *    "growthKiB": VmHWM after minus VmRSS before the workbook}
 *
 * usage: bare_libxlsxwriter TABLE.tsv OUT.xlsx    exit status 1 on any failure
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <xlsxwriter.h>

/* Worksheet rows below the header. */
#define DATA_ROWS_PER_SHEET ((size_t)LXW_ROW_MAX - 1)
/* libxlsxwriter adds 5 pixels of padding to a width in 7-pixel digits before
 * storing it: this argument makes the file store 20. */
#define WIDE_COLUMN_ARGUMENT (20.0 - 5.0 / 7.0)

typedef struct {
    char *text;      /* the whole file, each cell NUL-terminated in place */
    char **cells;    /* every cell of every line, line after line */
    size_t *starts;  /* line i holds cells[starts[i]] .. cells[starts[i + 1] - 1] */
    size_t lines;
    size_t columns;  /* the most cells on any line */
} Table;

static void failed(const char *what, const char *why)
{
    fprintf(stderr, "bare_libxlsxwriter: %s: %s\n", what, why);
}

static int readTable(const char *path, Table *table)
{
    FILE *file = fopen(path, "rb");
    if (!file) {
        failed(path, strerror(errno));
        return 0;
    }
    size_t size = 0;
    size_t capacity = 1 << 20;
    char *text = malloc(capacity + 1);
    while (text) {
        size += fread(text + size, 1, capacity - size, file);
        if (size < capacity)
            break;
        capacity *= 2;
        char *grown = realloc(text, capacity + 1);
        if (!grown)
            free(text);
        text = grown;
    }
    const int readFailed = !text || ferror(file);
    fclose(file);
    if (readFailed) {
        failed(path, text ? "cannot be read" : "out of memory");
        free(text);
        return 0;
    }
    text[size] = '\0';

    /* One pass to count, one to cut: the arrays are allocated once. */
    size_t lineCount = 0;
    size_t cellCount = 0;
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\t')
            ++cellCount;
        else if (text[i] == '\n')
            ++lineCount, ++cellCount;
    }
    if (size > 0 && text[size - 1] != '\n')
        ++lineCount, ++cellCount;

    table->text = text;
    table->cells = malloc((cellCount ? cellCount : 1) * sizeof *table->cells);
    table->starts = malloc((lineCount + 1) * sizeof *table->starts);
    table->lines = 0;
    table->columns = 0;
    if (!table->cells || !table->starts) {
        failed(path, "out of memory");
        return 0;
    }

    size_t cell = 0;
    char *p = text;
    char *const end = text + size;
    while (p < end) {
        table->starts[table->lines++] = cell;
        char *lineEnd = memchr(p, '\n', (size_t)(end - p));
        if (!lineEnd)
            lineEnd = end;
        *lineEnd = '\0';
        if (lineEnd > p && lineEnd[-1] == '\r')
            lineEnd[-1] = '\0';
        for (;;) {
            table->cells[cell++] = p;
            char *tab = strchr(p, '\t');
            if (!tab)
                break;
            *tab = '\0';
            p = tab + 1;
        }
        const size_t columns = cell - table->starts[table->lines - 1];
        if (columns > table->columns)
            table->columns = columns;
        p = lineEnd + 1;
    }
    table->starts[table->lines] = cell;
    if (table->lines == 0) {
        failed(path, "has no header line");
        return 0;
    }
    return 1;
}

static double seconds(clockid_t clock)
{
    struct timespec now;
    clock_gettime(clock, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static long statusKiB(const char *field)
{
    FILE *status = fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    const size_t length = strlen(field);
    char line[256];
    long kib = 0;
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, field, length) == 0 && line[length] == ':') {
            kib = strtol(line + length + 1, NULL, 10);
            break;
        }
    }
    fclose(status);
    return kib;
}

/* Linux: writing 5 resets VmHWM to the current resident size, so the peak
 * that follows belongs to the workbook alone. */
static void resetPeak(void)
{
    FILE *clear = fopen("/proc/self/clear_refs", "w");
    if (clear) {
        fputs("5", clear);
        fclose(clear);
    }
}

static int checked(lxw_error error, const char *what)
{
    if (error == LXW_NO_ERROR)
        return 1;
    failed(what, lxw_strerror(error));
    return 0;
}

static int writeLine(lxw_worksheet *sheet, lxw_row_t row, const Table *table, size_t line, lxw_format *format)
{
    for (size_t cell = table->starts[line]; cell < table->starts[line + 1]; ++cell) {
        const lxw_col_t column = (lxw_col_t)(cell - table->starts[line]);
        if (!checked(worksheet_write_string(sheet, row, column, table->cells[cell], format), "worksheet_write_string"))
            return 0;
    }
    return 1;
}

/* A worksheet with the wide columns set and the header in row 0. In
 * constant-memory mode the widths must be in place before the first row. */
static lxw_worksheet *startSheet(lxw_workbook *workbook, unsigned number, const Table *table, lxw_format *format)
{
    char name[32];
    snprintf(name, sizeof name, "Sheet%u", number);
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, number == 1 ? NULL : name);
    if (!sheet) {
        failed("workbook_add_worksheet", name);
        return NULL;
    }
    static const lxw_col_t wide[] = {1, 4};
    for (size_t i = 0; i < sizeof wide / sizeof wide[0]; ++i) {
        if (wide[i] < table->columns
            && !checked(worksheet_set_column(sheet, wide[i], wide[i], WIDE_COLUMN_ARGUMENT, NULL),
                        "worksheet_set_column"))
            return NULL;
    }
    return writeLine(sheet, 0, table, 0, format) ? sheet : NULL;
}

static int writeWorkbook(const char *path, const Table *table)
{
    lxw_workbook_options options;
    memset(&options, 0, sizeof options);
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(path, &options);
    if (!workbook) {
        failed("workbook_new_opt", path);
        return 0;
    }

    int complete = 1;
    lxw_format *format = workbook_add_format(workbook);
    if (format) {
        format_set_align(format, LXW_ALIGN_CENTER);
        format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
    } else {
        failed("workbook_add_format", "no format");
        complete = 0;
    }

    unsigned sheetNumber = 1;
    lxw_worksheet *sheet = complete ? startSheet(workbook, sheetNumber, table, format) : NULL;
    complete = sheet != NULL;
    for (size_t line = 1; complete && line < table->lines; ++line) {
        size_t row = (line - 1) % DATA_ROWS_PER_SHEET + 1;
        if (row == 1 && line > 1) {
            sheet = startSheet(workbook, ++sheetNumber, table, format);
            complete = sheet != NULL;
        }
        complete = complete && writeLine(sheet, (lxw_row_t)row, table, line, format);
    }

    /* Closing writes the file and frees the workbook, whatever happened above. */
    const int closed = checked(workbook_close(workbook), "workbook_close");
    return complete && closed;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: bare_libxlsxwriter TABLE.tsv OUT.xlsx\n");
        return 1;
    }
    Table table;
    memset(&table, 0, sizeof table);
    if (!readTable(argv[1], &table))
        return 1;

    resetPeak();
    const long before = statusKiB("VmRSS");
    const double cpuStart = seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double start = seconds(CLOCK_MONOTONIC);
    const int written = writeWorkbook(argv[2], &table);
    const double wall = seconds(CLOCK_MONOTONIC) - start;
    const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    const long peak = statusKiB("VmHWM");
    if (!written) {
        remove(argv[2]);
        return 1;
    }

    if (printf("{\"seconds\": %.6f, \"cpuSeconds\": %.6f, \"peakKiB\": %ld, \"growthKiB\": %ld}\n", wall, cpu, peak,
               peak - before) < 0
        || fflush(stdout) != 0) {
        failed("stdout", strerror(errno));
        return 1;
    }
    free(table.cells);
    free(table.starts);
    free(table.text);
    return 0;
}
