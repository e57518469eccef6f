// Reports what the host information code finds in this process, one item
// per line, into the file named by the first argument: the Windows version
// text, then the www root and the paths derived from this program's own
// path (www root, webroot, Apache logs, Apache conf extra, Apache conf
// suite, MySQL, PHP).
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
    fprintf(out, "%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n", OsVersionText, SuitePaths.WwwRootPath, SuitePaths.WebrootPath,
            SuitePaths.ApacheLogsPath, SuitePaths.ApacheConfExtraPath, SuitePaths.ApacheConfSuitePath,
            SuitePaths.MySqlIniPath, SuitePaths.PhpIniPath);
    fclose(out);
    return 0;
}
