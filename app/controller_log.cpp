/* The ControllerLog: one buffered text stream, \www\suite-data\controller.log
   on the current drive, created anew at each start and written through one
   formatted append (and its wide twin). */
#include "controller.h"

#include <stdarg.h>
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

int ControllerLogAppendW(const wchar_t *format, ...)
{
    va_list args;
    int written;

    if (LogStream == NULL) {
        return 0;
    }
    va_start(args, format);
    written = vfwprintf(LogStream, format, args);
    va_end(args);
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
