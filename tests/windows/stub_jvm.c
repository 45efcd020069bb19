/* A stand-in for a Java runtime's jvm.dll, for the launcher's tests under Wine.
   It exports JNI_CreateJavaVM and fills the JNI function and invocation tables
   of jni.h, records every call it gets, one line per event, to the file named
   by QUENLET_STUB_LOG, and fails the step named by QUENLET_STUB_FAIL the way a
   real VM fails it (a negative jint or null).

   Log lines: an event name, then fields; a string field is the last field of
   its line and is written byte for byte, with bytes below 0x20, from 0x7f up,
   and '%' written as %HH. UTF-16 strings are written as hex units. A line is
   written whole, however long (a class path of thousands of jars, every
   argument of the longest command line); its debugger copy keeps the first
   280 characters. The first line, "loaded PATH", names the file the library
   was loaded from.

   Build flavours: QUENLET_STUB_CDECL builds the same code with an empty
   JNICALL (the wrong convention on 32-bit, for the probe's negative control);
   QUENLET_STUB_DEP makes the library import a function of stubdep.dll. */
#ifdef QUENLET_STUB_CDECL
#include "jni_md.h"
#undef JNICALL
#define JNICALL
#endif
#include <jni.h>

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef QUENLET_STUB_DEP
__declspec(dllimport) int StubDepAnswer(void);
#endif

/* ---- The log -------------------------------------------------------------- */

static FILE* OpenLog(void) {
  static FILE* log;
  static int tried;
  if (!tried) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QUENLET_STUB_LOG", path, sizeof path);
    tried = 1;
    if (n > 0 && n < sizeof path) log = fopen(path, "ab");
  }
  return log;
}

/* One log line, written to the log piece by piece as it is made, so that its
   length has no bound; its start is kept for the debugger output. */
typedef struct {
  char start[281];
  size_t length;
} Line;

static void Put(Line* line, const char* text, size_t n) {
  FILE* log = OpenLog();
  size_t room = sizeof line->start - 1 - line->length;
  if (log != NULL && n > 0) fwrite(text, 1, n, log);
  if (n > room) n = room;
  memcpy(line->start + line->length, text, n);
  line->length += n;
  line->start[line->length] = '\0';
}

static void PutFormat(Line* line, const char* format, ...) {
  char buffer[256];
  va_list args;
  int n;
  va_start(args, format);
  n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) Put(line, buffer, (size_t)n < sizeof buffer ? (size_t)n : sizeof buffer - 1);
}

static int Plain(unsigned char byte) { return byte >= 0x20 && byte < 0x7f && byte != '%'; }

static void PutBytes(Line* line, const char* bytes) {
  const unsigned char* p;
  if (bytes == NULL) {
    Put(line, "(null)", 6);
    return;
  }
  for (p = (const unsigned char*)bytes; *p != 0;) {
    size_t run = 0;
    while (Plain(p[run])) ++run;
    if (run > 0) {
      Put(line, (const char*)p, run);
      p += run;
    } else {
      PutFormat(line, "%%%02X", *p++);
    }
  }
}

/* Ends the line in the log, flushed, and mirrors its start to the debugger
   output, so that a relay trace shows the JNI calls among the system calls. */
static void Emit(Line* line) {
  FILE* log = OpenLog();
  char marker[300];
  if (log != NULL) {
    fputc('\n', log);
    fflush(log);
  }
  snprintf(marker, sizeof marker, "quenlet-stub: %s", line->start);
  OutputDebugStringA(marker);
}

static void Event(const char* name) {
  Line line = {{0}, 0};
  Put(&line, name, strlen(name));
  Emit(&line);
}

/* Whether QUENLET_STUB_FAIL names this step (a comma-separated list). */
static int Fails(const char* step) {
  char value[256];
  DWORD n = GetEnvironmentVariableA("QUENLET_STUB_FAIL", value, sizeof value);
  size_t length = strlen(step);
  const char* p;
  if (n == 0 || n >= sizeof value) return 0;
  for (p = value; *p != 0;) {
    const char* end = strchr(p, ',');
    size_t item = end != NULL ? (size_t)(end - p) : strlen(p);
    if (item == length && memcmp(p, step, length) == 0) return 1;
    if (end == NULL) break;
    p = end + 1;
  }
  return 0;
}

/* ---- The objects the stub hands out ---------------------------------------- */

enum Kind { kClass = 0x51c1a55, kString = 0x5157f1, kArray = 0x5a77a7 };

typedef struct Object {
  int kind;
  int utf16;          /* strings: made by NewString */
  char* bytes;        /* classes: name; strings from NewStringUTF: the bytes */
  jchar* units;       /* strings from NewString */
  jsize length;       /* arrays: element count; NewString: unit count */
  struct Object** elements;
} Object;

struct _jmethodID {
  Object* owner;
  char name[64];
  char signature[64];
};

static Object* NewObject(int kind) {
  Object* object = (Object*)calloc(1, sizeof(Object));
  if (object != NULL) object->kind = kind;
  return object;
}

static Object* AsObject(void* handle, int kind) {
  Object* object = (Object*)handle;
  return object != NULL && object->kind == kind ? object : NULL;
}

static void PutString(Line* line, Object* string) {
  jsize i;
  if (string == NULL) {
    Put(line, "(null)", 6);
  } else if (string->utf16) {
    Put(line, "u16:", 4);
    for (i = 0; i < string->length; ++i) PutFormat(line, i == 0 ? "%04X" : " %04X", string->units[i]);
  } else {
    Put(line, "utf:", 4);
    PutBytes(line, string->bytes);
  }
}

/* ---- The JNI function table ------------------------------------------------- */

static void JNICALL Unexpected(void) {
  Event("UNEXPECTED call of an unimplemented JNI function");
  ExitProcess(99);
}

static jint JNICALL StubGetVersion(JNIEnv* env) {
  (void)env;
  Event("GetVersion");
  return JNI_VERSION_1_2;
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  Line line = {{0}, 0};
  int isString = name != NULL && strcmp(name, "java/lang/String") == 0;
  Object* found = NULL;
  (void)env;
  Put(&line, "FindClass ", 10);
  PutBytes(&line, name);
  Emit(&line);
  if (name == NULL || Fails(isString ? "string_class" : "findclass")) return NULL;
  found = NewObject(kClass);
  if (found != NULL) found->bytes = _strdup(name);
  return (jclass)found;
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  Line line = {{0}, 0};
  Object* owner = AsObject(clazz, kClass);
  struct _jmethodID* method;
  (void)env;
  Put(&line, "GetStaticMethodID class=", 24);
  PutBytes(&line, owner != NULL ? owner->bytes : NULL);
  Put(&line, " name=", 6);
  PutBytes(&line, name);
  Put(&line, " sig=", 5);
  PutBytes(&line, sig);
  Emit(&line);
  if (owner == NULL || name == NULL || sig == NULL || Fails("method")) return NULL;
  method = (struct _jmethodID*)calloc(1, sizeof *method);
  if (method == NULL) return NULL;
  method->owner = owner;
  snprintf(method->name, sizeof method->name, "%s", name);
  snprintf(method->signature, sizeof method->signature, "%s", sig);
  return method;
}

static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
  Line line = {{0}, 0};
  Object* type = AsObject(elementClass, kClass);
  Object* array;
  (void)env;
  PutFormat(&line, "NewObjectArray length=%ld initial=%s class=", (long)length, initial == NULL ? "null" : "object");
  PutBytes(&line, type != NULL ? type->bytes : NULL);
  Emit(&line);
  /* A real VM throws NegativeArraySizeException, or crashes on a null class. */
  if (length < 0 || type == NULL || Fails("array")) return NULL;
  array = NewObject(kArray);
  if (array == NULL) return NULL;
  array->length = length;
  array->elements = (Object**)calloc(length > 0 ? (size_t)length : 1, sizeof(Object*));
  if (array->elements == NULL) return NULL;
  if (initial != NULL) {
    jsize i;
    for (i = 0; i < length; ++i) array->elements[i] = (Object*)initial;
  }
  return (jobjectArray)array;
}

static jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
  Line line = {{0}, 0};
  Object* string;
  (void)env;
  Put(&line, "NewStringUTF ", 13);
  PutBytes(&line, bytes);
  Emit(&line);
  if (bytes == NULL || Fails("newstring")) return NULL;
  string = NewObject(kString);
  if (string != NULL) string->bytes = _strdup(bytes);
  return (jstring)string;
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
  Line line = {{0}, 0};
  Object* string;
  jsize i;
  (void)env;
  PutFormat(&line, "NewString length=%ld units=", (long)length);
  for (i = 0; units != NULL && i < length; ++i) PutFormat(&line, i == 0 ? "%04X" : " %04X", units[i]);
  Emit(&line);
  if ((units == NULL && length != 0) || length < 0 || Fails("newstring")) return NULL;
  string = NewObject(kString);
  if (string == NULL) return NULL;
  string->utf16 = 1;
  string->length = length;
  string->units = (jchar*)calloc(length > 0 ? (size_t)length : 1, sizeof(jchar));
  if (string->units != NULL && length > 0) memcpy(string->units, units, (size_t)length * sizeof(jchar));
  return (jstring)string;
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray handle, jsize index, jobject value) {
  Line line = {{0}, 0};
  Object* array = AsObject(handle, kArray);
  (void)env;
  PutFormat(&line, "SetObjectArrayElement index=%ld value=", (long)index);
  PutString(&line, AsObject(value, kString));
  Emit(&line);
  if (array == NULL || index < 0 || index >= array->length) {
    Event("SetObjectArrayElement ERROR array missing or index out of bounds");
    return;
  }
  array->elements[index] = (Object*)value;
}

/* Logs the call of main with what the array holds at that moment. */
static void LogStaticCall(const char* form, jclass clazz, jmethodID method, jobject argument) {
  Line line = {{0}, 0};
  Object* owner = AsObject(clazz, kClass);
  Object* array = AsObject(argument, kArray);
  Put(&line, form, strlen(form));
  Put(&line, " class=", 7);
  PutBytes(&line, owner != NULL ? owner->bytes : NULL);
  Put(&line, " method=", 8);
  PutBytes(&line, method != NULL ? method->name : NULL);
  if (method != NULL && method->owner != owner) Put(&line, " (method of another class)", 26);
  if (array == NULL) {
    Put(&line, " args=null", 10);
    Emit(&line);
    return;
  }
  PutFormat(&line, " args=%ld", (long)array->length);
  Emit(&line);
  {
    jsize i;
    for (i = 0; i < array->length; ++i) {
      Line element = {{0}, 0};
      PutFormat(&element, "  arg %ld ", (long)i);
      PutString(&element, AsObject(array->elements[i], kString));
      Emit(&element);
    }
  }
}

static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass clazz, jmethodID method, va_list args) {
  (void)env;
  LogStaticCall("CallStaticVoidMethodV", clazz, method, va_arg(args, jobject));
}

static void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass clazz, jmethodID method, const jvalue* args) {
  (void)env;
  LogStaticCall("CallStaticVoidMethodA", clazz, method, args != NULL ? args[0].l : NULL);
}

static void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass clazz, jmethodID method, ...) {
  va_list args;
  (void)env;
  va_start(args, method);
  LogStaticCall("CallStaticVoidMethod", clazz, method, va_arg(args, jobject));
  va_end(args);
}

static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  (void)env;
  Event("ExceptionCheck");
  return JNI_FALSE;
}

static jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  (void)env;
  Event("ExceptionOccurred");
  return NULL;
}

static void JNICALL ExceptionClear(JNIEnv* env) {
  (void)env;
  Event("ExceptionClear");
}

static void JNICALL DeleteLocalRef(JNIEnv* env, jobject object) {
  (void)env;
  (void)object;
  Event("DeleteLocalRef");
}

/* ---- The invocation table --------------------------------------------------- */

static jint JNICALL DestroyJavaVM(JavaVM* vm) {
  (void)vm;
  Event("DestroyJavaVM");
  return JNI_OK;
}

static struct JNINativeInterface_ functions;
static struct JNIInvokeInterface_ invocations;
static JNIEnv environment;
static JavaVM machine;

static void FillTables(void) {
  void** slot = (void**)&functions;
  size_t i;
  for (i = 0; i < sizeof functions / sizeof(void*); ++i) slot[i] = (void*)Unexpected;
  slot = (void**)&invocations;
  for (i = 0; i < sizeof invocations / sizeof(void*); ++i) slot[i] = (void*)Unexpected;
  functions.reserved0 = functions.reserved1 = functions.reserved2 = functions.reserved3 = NULL;
  invocations.reserved0 = invocations.reserved1 = invocations.reserved2 = NULL;

  functions.GetVersion = StubGetVersion;
  functions.FindClass = FindClass;
  functions.GetStaticMethodID = GetStaticMethodID;
  functions.NewObjectArray = NewObjectArray;
  functions.NewStringUTF = NewStringUTF;
  functions.NewString = NewString;
  functions.SetObjectArrayElement = SetObjectArrayElement;
  functions.CallStaticVoidMethod = CallStaticVoidMethod;
  functions.CallStaticVoidMethodV = CallStaticVoidMethodV;
  functions.CallStaticVoidMethodA = CallStaticVoidMethodA;
  functions.ExceptionCheck = ExceptionCheck;
  functions.ExceptionOccurred = ExceptionOccurred;
  functions.ExceptionClear = ExceptionClear;
  functions.DeleteLocalRef = DeleteLocalRef;
  invocations.DestroyJavaVM = DestroyJavaVM;
  environment = &functions;
  machine = &invocations;
}

/* ---- The exported entry point ----------------------------------------------- */

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* initArgs) {
  JavaVMInitArgs* args = (JavaVMInitArgs*)initArgs;
  Line line = {{0}, 0};
  jint i;
  if (args == NULL) {
    Event("JNI_CreateJavaVM args=null");
  } else {
    PutFormat(&line, "JNI_CreateJavaVM version=0x%08lX nOptions=%ld ignoreUnrecognized=%d", (unsigned long)args->version,
              (long)args->nOptions, (int)args->ignoreUnrecognized);
    Emit(&line);
    for (i = 0; i < args->nOptions && args->options != NULL; ++i) {
      Line option = {{0}, 0};
      PutFormat(&option, "option %ld extraInfo=%s ", (long)i, args->options[i].extraInfo == NULL ? "null" : "set");
      PutBytes(&option, args->options[i].optionString);
      Emit(&option);
    }
  }
#ifdef QUENLET_STUB_DEP
  {
    Line dep = {{0}, 0};
    PutFormat(&dep, "stubdep answer=%d", StubDepAnswer());
    Emit(&dep);
  }
#endif
  if (vm == NULL || env == NULL) return JNI_ERR;
  *vm = NULL;
  *env = NULL;
  if (args == NULL || Fails("create")) return JNI_ERR;
  FillTables();
  *vm = &machine;
  *env = &environment;
  return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(instance, path, sizeof path);
    Line line = {{0}, 0};
    Put(&line, "loaded ", 7);
    PutBytes(&line, n > 0 && n < sizeof path ? path : NULL);
    Emit(&line);
  }
  return TRUE;
}
