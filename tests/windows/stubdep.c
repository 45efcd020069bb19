/* A tiny library that the dependent flavour of the stub jvm.dll imports. Kept
   only in jre\bin, it shows whether the launcher lets the loader search there
   when it loads jre\bin\client\jvm.dll. */
__declspec(dllexport) int StubDepAnswer(void) { return 42; }
