// Reports what the host information code finds in this process: the
// Windows version text and the www root derived from this program's own
// path, one per line, into the file named by the first argument.
#include <stdio.h>

#include "hostinfo/hostinfo.h"
#include "paths/paths.h"

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    DetectWindowsVersion();
    SuitePathsQuery();
    FILE *out = fopen(argv[1], "wt");
    if (!out) return 1;
    fprintf(out, "%s\n%s\n%s\n%s\n%s\n", OsVersionText, SuitePaths.WwwRootPath, SuitePaths.ApacheLogsPath,
            SuitePaths.ApacheConfSuitePath, SuitePaths.MySqlIniPath);
    fclose(out);
    return 0;
}
