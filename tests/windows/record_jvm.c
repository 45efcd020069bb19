/* A jvm.dll that records, whole and unescaped, what the launcher hands a Java
   runtime: where it was loaded from, the init arguments and every option, and
   the String[] that main gets. For inputs too long for the stub's bounded log
   lines (a class path of thousands of jars, a command line of 32,767
   characters). Records go to the file named by QUENLET_RECORD_LOG, each as
   "NAME LENGTH\n" followed by LENGTH bytes and "\n"; strings made by NewString
   are recorded as their UTF-16LE bytes. Any JNI function the launcher is not
   expected to call ends the process with 99. */
#include <jni.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Record(const char* name, const void* data, size_t length) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("QUENLET_RECORD_LOG", path, sizeof path);
  FILE* log;
  if (n == 0 || n >= sizeof path) return;
  log = fopen(path, "ab");
  if (log == NULL) return;
  fprintf(log, "%s %lu\n", name, (unsigned long)length);
  if (length > 0) fwrite(data, 1, length, log);
  fputc('\n', log);
  fclose(log);
}

static void RecordText(const char* name, const char* text) { Record(name, text, text != NULL ? strlen(text) : 0); }

static void RecordNumber(const char* name, long value) {
  char text[32];
  snprintf(text, sizeof text, "%ld", value);
  RecordText(name, text);
}

typedef struct {
  jsize length;
  jchar* units;
} String;

typedef struct {
  jsize length;
  String** elements;
} Array;

static int classes[2]; /* the main class and java/lang/String */
static char methodId;

static void JNICALL Unexpected(void) {
  RecordText("unexpected", "");
  ExitProcess(99);
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  (void)env;
  RecordText("FindClass", name);
  if (name == NULL) return NULL;
  return (jclass)&classes[strcmp(name, "java/lang/String") == 0];
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  (void)env;
  (void)clazz;
  RecordText("GetStaticMethodID", name);
  RecordText("signature", sig);
  return (jmethodID)&methodId;
}

static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
  Array* array;
  (void)env;
  (void)elementClass;
  (void)initial;
  RecordNumber("NewObjectArray", (long)length);
  if (length < 0) return NULL;
  array = (Array*)calloc(1, sizeof *array);
  if (array == NULL) return NULL;
  array->length = length;
  array->elements = (String**)calloc(length > 0 ? (size_t)length : 1, sizeof(String*));
  return array->elements != NULL ? (jobjectArray)array : NULL;
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
  String* string = (String*)calloc(1, sizeof *string);
  (void)env;
  if (string == NULL || length < 0) return NULL;
  string->length = length;
  string->units = (jchar*)calloc(length > 0 ? (size_t)length : 1, sizeof(jchar));
  if (string->units == NULL) return NULL;
  if (length > 0) memcpy(string->units, units, (size_t)length * sizeof(jchar));
  return (jstring)string;
}

static jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
  /* Recorded as the bytes widened one to one; the launcher is expected to
     use NewString, and the test tells the two apart by this record. */
  RecordText("NewStringUTF", bytes);
  return NewString(env, NULL, 0);
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray handle, jsize index, jobject value) {
  Array* array = (Array*)handle;
  (void)env;
  if (array == NULL || index < 0 || index >= array->length) {
    RecordNumber("bad index", (long)index);
    return;
  }
  array->elements[index] = (String*)value;
}

static void RecordMain(Array* array) {
  jsize i;
  RecordNumber("main", array != NULL ? (long)array->length : -1L);
  for (i = 0; array != NULL && i < array->length; ++i) {
    String* s = array->elements[i];
    if (s == NULL) {
      RecordText("null", "");
    } else {
      Record("arg", s->units, (size_t)s->length * sizeof(jchar));
    }
  }
}

static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass clazz, jmethodID method, va_list args) {
  (void)env;
  (void)clazz;
  (void)method;
  RecordMain((Array*)va_arg(args, jobject));
}

static void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass clazz, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  CallStaticVoidMethodV(env, clazz, method, args);
  va_end(args);
}

static jint JNICALL DestroyJavaVM(JavaVM* vm) {
  (void)vm;
  RecordText("DestroyJavaVM", "");
  return JNI_OK;
}

static struct JNINativeInterface_ functions;
static struct JNIInvokeInterface_ invocations;
static JNIEnv environment;
static JavaVM machine;

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* initArgs) {
  JavaVMInitArgs* args = (JavaVMInitArgs*)initArgs;
  char text[96];
  void** slot;
  size_t i;
  jint n;
  if (vm == NULL || env == NULL || args == NULL) return JNI_ERR;
  snprintf(text, sizeof text, "version=0x%08lX nOptions=%ld ignoreUnrecognized=%d", (unsigned long)args->version,
           (long)args->nOptions, (int)args->ignoreUnrecognized);
  RecordText("JNI_CreateJavaVM", text);
  for (n = 0; n < args->nOptions; ++n) RecordText("option", args->options[n].optionString);

  slot = (void**)&functions;
  for (i = 0; i < sizeof functions / sizeof(void*); ++i) slot[i] = (void*)Unexpected;
  slot = (void**)&invocations;
  for (i = 0; i < sizeof invocations / sizeof(void*); ++i) slot[i] = (void*)Unexpected;
  functions.FindClass = FindClass;
  functions.GetStaticMethodID = GetStaticMethodID;
  functions.NewObjectArray = NewObjectArray;
  functions.NewString = NewString;
  functions.NewStringUTF = NewStringUTF;
  functions.SetObjectArrayElement = SetObjectArrayElement;
  functions.CallStaticVoidMethod = CallStaticVoidMethod;
  functions.CallStaticVoidMethodV = CallStaticVoidMethodV;
  invocations.DestroyJavaVM = DestroyJavaVM;
  environment = &functions;
  machine = &invocations;
  *vm = &machine;
  *env = &environment;
  return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(instance, path, sizeof path);
    Record("loaded", path, n < sizeof path ? n : 0);
  }
  return TRUE;
}
