/* The ControllerLog: one buffered text stream, \www\suite-data\controller.log
   on the current drive, created anew at each start and written through one
   formatted append (and its wide twin). */
#include "log.h"

#include <windows.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static FILE *LogStream;

int ControllerLogOpen(void)
{
    char path[256];

    memset(path, 0, sizeof(path));
    strcpy(path, CONTROLLER_LOG_DIRECTORY);
    strcat(path, CONTROLLER_LOG_FILE);
    if (LogStream != NULL) {
        fclose(LogStream);
    }
    /* The directory is not created: where it is missing the log stays
       closed and every append does nothing. */
    LogStream = fopen(path, "wt");
    return LogStream != NULL ? 1 : 0;
}

int ControllerLogAppend(const char *format, ...)
{
    va_list args;
    int written;

    if (LogStream == NULL) {
        return 0;
    }
    va_start(args, format);
    written = vfprintf(LogStream, format, args);
    va_end(args);
    return written;
}

/* The wide text is formatted whole, converted to the ANSI code page and
   written through the narrow append, so the file holds 8-bit text only.
   A line of the usual length is done in buffers on the stack; a longer one
   gets heap blocks of its size. */
#define WIDE_LINE_SIZE 512

int ControllerLogAppendW(const wchar_t *format, ...)
{
    va_list args;
    wchar_t line[WIDE_LINE_SIZE];
    char bytes[2 * WIDE_LINE_SIZE];
    wchar_t *wide = line;
    char *narrow = bytes;
    int length;
    int count;
    int written = 0;

    if (LogStream == NULL) {
        return 0;
    }
    va_start(args, format);
    length = _vsnwprintf(line, WIDE_LINE_SIZE, format, args);
    va_end(args);
    if (length < 0 || length >= WIDE_LINE_SIZE) {
        va_start(args, format);
        length = _vscwprintf(format, args);
        va_end(args);
        wide = length > 0 ? (wchar_t *)malloc(((size_t)length + 1) * sizeof(wchar_t)) : NULL;
        if (wide == NULL) {
            goto cleanup;
        }
        va_start(args, format);
        _vsnwprintf(wide, (size_t)length + 1, format, args);
        va_end(args);
    }
    if (length == 0) {
        goto cleanup;
    }
    count = WideCharToMultiByte(CP_ACP, 0, wide, length, bytes, (int)sizeof(bytes), NULL, NULL);
    if (count == 0) {
        count = WideCharToMultiByte(CP_ACP, 0, wide, length, NULL, 0, NULL, NULL);
        narrow = count > 0 ? (char *)malloc((size_t)count) : NULL;
        if (narrow == NULL) {
            goto cleanup;
        }
        WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, count, NULL, NULL);
    }
    written = ControllerLogAppend("%.*s", count, narrow);

cleanup:
    if (narrow != bytes) {
        free(narrow);
    }
    if (wide != line) {
        free(wide);
    }
    return written;
}

void ControllerLogFlush(void)
{
    if (LogStream != NULL) {
        fflush(LogStream);
    }
}

void ControllerLogClose(void)
{
    if (LogStream != NULL) {
        fflush(LogStream);
        fclose(LogStream);
        LogStream = NULL;
    }
}

FILE *ControllerLogStream(void)
{
    return LogStream;
}
