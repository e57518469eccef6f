/* The diagnostic log: \www\suite-data\controller.log on the current drive,
   created anew at each start, written by every part of the program through
   one formatted append (and its wide twin). Writes while the log is not open
   do nothing. */
#ifndef QUORVEX_LOG_LOG_H
#define QUORVEX_LOG_LOG_H

#include <stdio.h>
#include <wchar.h>

#define CONTROLLER_LOG_DIRECTORY "\\www\\suite-data"
#define CONTROLLER_LOG_FILE      "\\controller.log"

int ControllerLogOpen(void); /* 1 when the file could be created */
int ControllerLogAppend(const char *format, ...);
int ControllerLogAppendW(const wchar_t *format, ...);
void ControllerLogFlush(void);
void ControllerLogClose(void);   /* flushes, then closes */
FILE *ControllerLogStream(void); /* null while not open */

#endif
