/* The least any launcher can do, as the benchmark's anchor: load libjvm.so,
   create the VM with the options given, run the class's main with no
   arguments and destroy the VM. No search, no class path building.

   Usage: bare_jni LIBJVM CLASS OPTION...   (CLASS slash-separated) */
#include <jni.h>

#include <dlfcn.h>
#include <stdio.h>

typedef jint(JNICALL* CreateJavaVM)(JavaVM** vm, void** env, void* args);

int main(int argc, char** argv) {
  JavaVMOption options[16];
  JavaVMInitArgs initArgs;
  JavaVM* vm = NULL;
  JNIEnv* env = NULL;
  void* runtime;
  CreateJavaVM create;
  jclass application;
  jclass stringClass;
  jmethodID mainMethod;
  jobjectArray array;
  int count = argc - 3;
  int i;

  if (argc < 3 || count > 16) {
    fprintf(stderr, "usage: bare_jni LIBJVM CLASS [OPTION...] (at most 16 options)\n");
    return 2;
  }
  runtime = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
  if (runtime == NULL) {
    fprintf(stderr, "bare_jni: %s\n", dlerror());
    return 1;
  }
  create = (CreateJavaVM)dlsym(runtime, "JNI_CreateJavaVM");
  if (create == NULL) return 1;
  for (i = 0; i < count; ++i) {
    options[i].optionString = argv[3 + i];
    options[i].extraInfo = NULL;
  }
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = count;
  initArgs.options = options;
  initArgs.ignoreUnrecognized = JNI_TRUE;
  if (create(&vm, (void**)&env, &initArgs) < 0) return 1;

  application = (*env)->FindClass(env, argv[2]);
  if (application == NULL) return 1;
  mainMethod = (*env)->GetStaticMethodID(env, application, "main", "([Ljava/lang/String;)V");
  if (mainMethod == NULL) return 1;
  stringClass = (*env)->FindClass(env, "java/lang/String");
  if (stringClass == NULL) return 1;
  array = (*env)->NewObjectArray(env, 0, stringClass, NULL);
  if (array == NULL) return 1;
  (*env)->CallStaticVoidMethod(env, application, mainMethod, array);
  (*vm)->DestroyJavaVM(vm);
  return 0;
}
