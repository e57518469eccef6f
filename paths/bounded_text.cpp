/* Bounded text: the one copy and append that every fixed text buffer of the
   program is filled with, cutting what does not fit or refusing it whole. */
#include "paths.h"

#include <string.h>

int AppendBoundedText(char *buffer, size_t size, const char *text, int cut)
{
    size_t used = strlen(buffer);
    size_t length = strlen(text);

    if (size == 0 || used > size - 1) {
        return 0;
    }
    if (length <= size - 1 - used) {
        memcpy(buffer + used, text, length + 1);
        return 1;
    }
    if (cut) {
        memcpy(buffer + used, text, size - 1 - used);
        buffer[size - 1] = '\0';
    }
    return 0;
}

int CopyBoundedText(char *buffer, size_t size, const char *text, int cut)
{
    if (size == 0) {
        return 0;
    }
    buffer[0] = '\0';
    return AppendBoundedText(buffer, size, text, cut);
}
