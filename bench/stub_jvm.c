/* A libjvm.so whose VM costs nothing, so that timing the launcher against it
   measures the launcher's own work. JNI_CreateJavaVM and every JNI function
   the launcher calls return at once with a non-null result; the rest of the
   tables stays null. Like the real one it depends on the C++ runtime. */
#include <jni.h>

#include <stddef.h>

/* Distinct non-null handles; nothing ever dereferences them. */
static char handles[4];

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  (void)env;
  (void)name;
  return (jclass)&handles[0];
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  (void)env;
  (void)cls;
  (void)name;
  (void)sig;
  return (jmethodID)&handles[1];
}

static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
  (void)env;
  (void)length;
  (void)cls;
  (void)init;
  return (jobjectArray)&handles[2];
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* text, jsize length) {
  (void)env;
  (void)text;
  (void)length;
  return (jstring)&handles[3];
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
  (void)env;
  (void)array;
  (void)index;
  (void)value;
}

static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID method, va_list args) {
  (void)env;
  (void)cls;
  (void)method;
  (void)args;
}

static void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
  (void)env;
  (void)cls;
  (void)method;
}

static jint JNICALL DestroyJavaVM(JavaVM* vm) {
  (void)vm;
  return JNI_OK;
}

static struct JNINativeInterface_ functions;
static struct JNIInvokeInterface_ invocation;
static JNIEnv environment;
static JavaVM machine;

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
  (void)args;
  functions.FindClass = FindClass;
  functions.GetStaticMethodID = GetStaticMethodID;
  functions.NewObjectArray = NewObjectArray;
  functions.NewString = NewString;
  functions.SetObjectArrayElement = SetObjectArrayElement;
  functions.CallStaticVoidMethod = CallStaticVoidMethod;
  functions.CallStaticVoidMethodV = CallStaticVoidMethodV;
  invocation.DestroyJavaVM = DestroyJavaVM;
  environment = &functions;
  machine = &invocation;
  *vm = &machine;
  *env = &environment;
  return JNI_OK;
}
