/* The ControllerLog: one buffered text stream, \www\suite-data\controller.log
   on the current drive, created anew at each start and written through one
   formatted append (and its wide twin). */
#include "controller.h"

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
   written through the narrow stream, so the file holds 8-bit text only. */
int ControllerLogAppendW(const wchar_t *format, ...)
{
    va_list args;
    int length;
    int bytes;
    wchar_t *wide = NULL;
    char *narrow = NULL;
    int written = 0;

    if (LogStream == NULL) {
        return 0;
    }
    va_start(args, format);
    length = _vscwprintf(format, args);
    va_end(args);
    if (length <= 0) {
        return length;
    }
    wide = (wchar_t *)malloc(((size_t)length + 1) * sizeof(wchar_t));
    if (wide == NULL) {
        goto cleanup;
    }
    va_start(args, format);
    _vsnwprintf(wide, (size_t)length + 1, format, args);
    va_end(args);
    wide[length] = L'\0';
    bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, NULL, 0, NULL, NULL);
    narrow = (char *)malloc((size_t)bytes + 1);
    if (bytes <= 0 || narrow == NULL) {
        goto cleanup;
    }
    WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, bytes, NULL, NULL);
    narrow[bytes] = '\0';
    written = ControllerLogAppend("%s", narrow);

cleanup:
    free(narrow);
    free(wide);
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
