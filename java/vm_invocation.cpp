#include "java/vm_invocation.h"

#include <jni.h>

#include <climits>
#include <cstring>
#include <string>

#include "host/exe_folder.h"
#include "java/runtime_locator.h"

namespace quenlet {
namespace {

using CreateJavaVM = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

constexpr char kCreateJavaVMName[] = "JNI_CreateJavaVM";
constexpr char kMainMethod[] = "main";
constexpr char kMainSignature[] = "([Ljava/lang/String;)V";
constexpr char kStringClass[] = "java/lang/String";

constexpr char kErrorCaption[] = "Error";

void ShowError(HostServices& host, const char* text, const char* caption = kErrorCaption) {
  host.MessageBoxA(text, caption, kMbIconError);
}

// After the VM exists every failure is shown first, then the VM is destroyed.
int FailWithVm(HostServices& host, JavaVM* vm, const char* text) {
  ShowError(host, text);
  vm->DestroyJavaVM();
  return 0;
}

// The folder above the runtime library's own folder (for ...\jre\bin\client\jvm.dll,
// ...\jre\bin), where the runtime keeps the libraries its VM library needs.
// Empty when the path has fewer than two separators.
std::string RuntimeLibraryFolder(const char* runtimePath, char separator) {
  std::string path = runtimePath;
  size_t last = path.rfind(separator);
  if (last == std::string::npos || last == 0) return std::string();
  size_t above = path.rfind(separator, last - 1);
  if (above == std::string::npos) return std::string();
  std::string folder = path.substr(0, above == 0 ? 1 : above);  // a leading separator is the root itself
  // "C:" alone would name the drive's current folder, not its root.
  if (folder.back() == ':') folder += separator;
  return folder;
}

// A Java string holding the argument's text: its bytes decoded from the
// platform's multibyte encoding, so that non-ASCII arguments arrive intact.
// Null when the bytes cannot be decoded or the string cannot be made.
jstring NewArgumentString(HostServices& host, JNIEnv* env, const char* argument) {
  size_t length = std::strlen(argument);
  if (length == 0) return env->NewString(reinterpret_cast<const jchar*>(u""), 0);
  if (length > static_cast<size_t>(INT_MAX)) return nullptr;
  int bytes = static_cast<int>(length);
  int needed = host.MultiByteToWideChar(argument, bytes, nullptr, 0);
  if (needed <= 0) return nullptr;
  std::u16string text(static_cast<size_t>(needed), u'\0');
  int written = host.MultiByteToWideChar(argument, bytes, &text[0], needed);
  if (written <= 0 || written > needed) return nullptr;
  return env->NewString(reinterpret_cast<const jchar*>(text.data()), written);
}

// The String[] handed to main, every entry set; null on any failure.
jobjectArray NewArgumentArray(HostServices& host, JNIEnv* env, int argumentCount, char** arguments) {
  if (argumentCount < 0 || (argumentCount > 0 && arguments == nullptr)) return nullptr;
  jclass stringClass = env->FindClass(kStringClass);
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(argumentCount, stringClass, nullptr);
  if (array == nullptr) return nullptr;
  for (int i = 0; i < argumentCount; ++i) {
    if (arguments[i] == nullptr) return nullptr;
    jstring text = NewArgumentString(host, env, arguments[i]);
    if (text == nullptr) return nullptr;
    env->SetObjectArrayElement(array, i, text);
  }
  return array;
}

}  // namespace

int RunJavaMain(HostServices& host, const char* mainClass, const char* classPath, int argumentCount,
                char** arguments, std::uint32_t heapMegabytes) {
  const PathConventions& conventions = host.Conventions();

  char runtimePath[kMaxPath] = {};
  if (FindJavaRuntime(host, runtimePath, kMaxPath) == 0) {
    ShowError(host, "Cannot find compatible Java VM.", "Java not found.");
    return 0;
  }

  // Without an exe folder there is no place for the temp folder: none is made
  // and the temp option is left out, so the VM's default temp folder applies.
  char exeFolder[kMaxPath] = {};
  bool haveExeFolder = GetExeFolder(host, exeFolder) != 0;

  // The runtime's folder joins the DLL search, and the current folder, where
  // anyone may have left a DLL, leaves it. A runtime path that names no such
  // folder (a bare "jvm.dll") gets the exe folder, searched first anyway, so
  // that the current folder still leaves the search.
  std::string libraryFolder = RuntimeLibraryFolder(runtimePath, conventions.separator);
  if (libraryFolder.empty()) libraryFolder = exeFolder;
  host.SetDllDirectoryA(libraryFolder.c_str());
  Module runtime = host.LoadLibraryA(runtimePath);  // never unloaded
  if (runtime == nullptr) {
    ShowError(host, "Can't load jvm.dll.");
    return 0;
  }
  auto createJavaVM = reinterpret_cast<CreateJavaVM>(host.GetProcAddress(runtime, kCreateJavaVMName));
  if (createJavaVM == nullptr) {
    ShowError(host, "Cannot load Java VM.");
    return 0;
  }

  // Grown as needed, so a long exe folder cannot overflow it; the folder may
  // then not be made, which does not stop the launch.
  std::string tempFolder;
  if (haveExeFolder) {
    tempFolder = std::string(exeFolder) + conventions.separator + "temp";
    host.CreateDirectoryA(tempFolder.c_str());
  }

  std::string heapOption = "-Xmx" + std::to_string(heapMegabytes) + "m";
  std::string classPathOption = std::string("-Djava.class.path=") + (classPath != nullptr ? classPath : "");
  std::string tempOption = "-Djava.io.tmpdir=" + tempFolder;

  JavaVMOption options[3] = {};
  options[0].optionString = &heapOption[0];
  options[1].optionString = &classPathOption[0];
  options[2].optionString = &tempOption[0];
  JavaVMInitArgs initArgs = {};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = haveExeFolder ? 3 : 2;
  initArgs.options = options;
  initArgs.ignoreUnrecognized = JNI_TRUE;

  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  if (createJavaVM(&vm, reinterpret_cast<void**>(&env), &initArgs) < 0) {
    ShowError(host, "Cannot load Java VM.");
    return 0;
  }

  jclass application = mainClass != nullptr ? env->FindClass(mainClass) : nullptr;
  if (application == nullptr) return FailWithVm(host, vm, "Cannot find main class.");
  jmethodID mainMethod = env->GetStaticMethodID(application, kMainMethod, kMainSignature);
  if (mainMethod == nullptr) return FailWithVm(host, vm, "Cannot find main method.");
  jobjectArray array = NewArgumentArray(host, env, argumentCount, arguments);
  if (array == nullptr) return FailWithVm(host, vm, "Error initializing options.");

  env->CallStaticVoidMethod(application, mainMethod, array);
  vm->DestroyJavaVM();  // waits for the application's other non-daemon threads
  return 1;
}

}  // namespace quenlet
