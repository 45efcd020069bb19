/* Starts a program with an exact command line: raw_run PROGRAM FILE runs
   PROGRAM with the bytes of FILE (up to a zero byte) as its whole command
   line, waits for it and exits with its exit code. It writes nothing itself
   unless it cannot do that; the program writes to the same standard handles. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  FILE* file;
  char* line;
  long size;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  DWORD code = 0;

  if (argc != 3) {
    fprintf(stderr, "usage: raw_run PROGRAM FILE\n");
    return 125;
  }
  file = fopen(argv[2], "rb");
  if (file == NULL || fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 || fseek(file, 0, SEEK_SET) != 0) {
    fprintf(stderr, "raw_run: cannot read %s\n", argv[2]);
    return 125;
  }
  line = (char*)calloc((size_t)size + 1, 1);
  if (line == NULL || fread(line, 1, (size_t)size, file) != (size_t)size) {
    fprintf(stderr, "raw_run: cannot read %s\n", argv[2]);
    return 125;
  }
  fclose(file);

  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (!CreateProcessA(argv[1], line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "raw_run: cannot start %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  free(line);
  return (int)code;
}
