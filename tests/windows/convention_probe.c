/* Checks a jvm.dll against the calling convention that jni.h declares.

   convention_probe calls DLL   loads DLL, calls JNI_CreateJavaVM and every
                                table function the launcher uses, through the
                                jni.h declarations, with known arguments
   convention_probe load DLL    only loads DLL (for the DLL search tests)

   On 32-bit Windows each call is bracketed by reads of the stack pointer: a
   callee of the wrong convention leaves it off by the size of the arguments.
   The probe puts the stack pointer back, prints one line per call and exits
   with 1 when any call moved it. On 64-bit there is one convention; the probe
   makes the same calls. Exit status 2: the DLL or its entry point is missing. */
#include <jni.h>

#include <windows.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int mismatches;

#if defined(__i386__)
/* Runs one call and stores how far it moved the stack pointer (bytes). */
#define MEASURE(label, call)                                               \
  do {                                                                     \
    uintptr_t before_, after_;                                             \
    __asm__ volatile("movl %%esp, %0" : "=r"(before_) : : "memory");       \
    call;                                                                  \
    __asm__ volatile("movl %%esp, %0" : "=r"(after_) : : "memory");        \
    __asm__ volatile("movl %0, %%esp" : : "r"(before_) : "memory");        \
    Report(label, (long)(after_ - before_));                               \
  } while (0)
#else
#define MEASURE(label, call) \
  do {                       \
    call;                    \
    Report(label, 0);        \
  } while (0)
#endif

static void Report(const char* label, long delta) {
  printf("%s stack=%ld%s\n", label, delta, delta != 0 ? " MISMATCH" : "");
  if (delta != 0) ++mismatches;
  fflush(stdout);
}

static const char* Null(const void* p) { return p == NULL ? "null" : "ok"; }

/* What jni.h's C++ wrapper does for CallStaticVoidMethod. */
static void CallMainV(JNIEnv* env, jclass clazz, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  MEASURE("CallStaticVoidMethodV", (*env)->CallStaticVoidMethodV(env, clazz, method, args));
  va_end(args);
}

typedef jint(JNICALL* CreateJavaVM)(JavaVM**, void**, void*);

static int Calls(const char* path) {
  HMODULE library = LoadLibraryA(path);
  CreateJavaVM create;
  JavaVMOption options[3];
  JavaVMInitArgs args;
  JavaVM* vm = NULL;
  JNIEnv* env = NULL;
  jint created = 0;
  jclass mainClass = NULL, stringClass = NULL;
  jmethodID mainMethod = NULL;
  jobjectArray array = NULL;
  jstring strings[3] = {NULL, NULL, NULL};
  static const jchar wide[3] = {0x0041, 0x00E9, 0x20AC};
  jvalue value;
  jboolean pending = JNI_FALSE;
  jthrowable thrown = NULL;
  jint destroyed = 0;

  if (library == NULL) {
    printf("load error=%lu\n", (unsigned long)GetLastError());
    return 2;
  }
  create = (CreateJavaVM)(void (*)(void))GetProcAddress(library, "JNI_CreateJavaVM");
  if (create == NULL) {
    printf("no JNI_CreateJavaVM\n");
    return 2;
  }

  options[0].optionString = (char*)"-Xmx64m";
  options[1].optionString = (char*)"-Djava.class.path=C:\\a b;100%\xe9";
  options[2].optionString = (char*)"-Djava.io.tmpdir=C:\\App\\temp";
  options[0].extraInfo = options[1].extraInfo = options[2].extraInfo = NULL;
  args.version = JNI_VERSION_1_2;
  args.nOptions = 3;
  args.options = options;
  args.ignoreUnrecognized = JNI_TRUE;

  MEASURE("JNI_CreateJavaVM", created = create(&vm, (void**)&env, &args));
  printf("created=%ld\n", (long)created);
  if (created < 0 || env == NULL || vm == NULL) return mismatches != 0;

  MEASURE("FindClass", mainClass = (*env)->FindClass(env, "com/example/Main"));
  MEASURE("GetStaticMethodID",
          mainMethod = (*env)->GetStaticMethodID(env, mainClass, "main", "([Ljava/lang/String;)V"));
  MEASURE("FindClass", stringClass = (*env)->FindClass(env, "java/lang/String"));
  MEASURE("NewObjectArray", array = (*env)->NewObjectArray(env, 3, stringClass, NULL));
  MEASURE("NewStringUTF", strings[0] = (*env)->NewStringUTF(env, "a b"));
  MEASURE("NewStringUTF", strings[1] = (*env)->NewStringUTF(env, "\xc3\xa9\x80%"));
  MEASURE("NewString", strings[2] = (*env)->NewString(env, wide, 3));
  MEASURE("SetObjectArrayElement", (*env)->SetObjectArrayElement(env, array, 0, strings[0]));
  MEASURE("SetObjectArrayElement", (*env)->SetObjectArrayElement(env, array, 1, strings[1]));
  MEASURE("SetObjectArrayElement", (*env)->SetObjectArrayElement(env, array, 2, strings[2]));
  printf("class=%s method=%s string=%s array=%s strings=%s,%s,%s\n", Null(mainClass), Null(mainMethod),
         Null(stringClass), Null(array), Null(strings[0]), Null(strings[1]), Null(strings[2]));
  CallMainV(env, mainClass, mainMethod, array);
  value.l = array;
  MEASURE("CallStaticVoidMethodA", (*env)->CallStaticVoidMethodA(env, mainClass, mainMethod, &value));
  MEASURE("CallStaticVoidMethod", (*env)->CallStaticVoidMethod(env, mainClass, mainMethod, array));
  MEASURE("ExceptionCheck", pending = (*env)->ExceptionCheck(env));
  MEASURE("ExceptionOccurred", thrown = (*env)->ExceptionOccurred(env));
  MEASURE("ExceptionClear", (*env)->ExceptionClear(env));
  MEASURE("DestroyJavaVM", destroyed = (*vm)->DestroyJavaVM(vm));
  printf("pending=%d thrown=%s destroyed=%ld\n", (int)pending, Null(thrown), (long)destroyed);
  printf("mismatches=%d\n", mismatches);
  return mismatches != 0;
}

static int Load(const char* path) {
  HMODULE library = LoadLibraryA(path);
  if (library == NULL) {
    printf("load error=%lu\n", (unsigned long)GetLastError());
    return 2;
  }
  printf("loaded\n");
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "calls") == 0) return Calls(argv[2]);
  if (argc == 3 && strcmp(argv[1], "load") == 0) return Load(argv[2]);
  fprintf(stderr, "usage: convention_probe calls|load DLL\n");
  return 64;
}
