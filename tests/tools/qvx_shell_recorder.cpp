// Stands in for the programs the menu commands hand to the shell (Notepad,
// the command prompt, the browser, the Services console): records how it
// was started and ends at once.
//
// Each start writes C:\qvxshell\launch-PID.txt with three lines:
//   program=<its own file path>
//   command=<its command line>
//   directory=<its current directory>
#include <windows.h>
#include <stdio.h>

int main()
{
    char program[MAX_PATH] = { 0 };
    char directory[MAX_PATH] = { 0 };
    char path[MAX_PATH];
    char temporary[MAX_PATH];

    GetModuleFileNameA(NULL, program, MAX_PATH - 1);
    GetCurrentDirectoryA(MAX_PATH - 1, directory);
    CreateDirectoryA("C:\\qvxshell", NULL);
    snprintf(path, sizeof(path), "C:\\qvxshell\\launch-%lu.txt", GetCurrentProcessId());
    snprintf(temporary, sizeof(temporary), "%s.tmp", path);
    FILE *file = fopen(temporary, "wb");
    if (!file) return 1;
    fprintf(file, "program=%s\ncommand=%s\ndirectory=%s\n", program, GetCommandLineA(), directory);
    fclose(file);
    // Appears whole, so that a test never reads half a record.
    return MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
