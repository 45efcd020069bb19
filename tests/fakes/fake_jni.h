// A fake Java VM for unit tests: a JNI_CreateJavaVM that hands out real JNI
// function and invocation tables, records every JNI call as a line in the fake
// host's call log (so host and JNI calls show in one sequence), and can be told
// to fail at any step.
#pragma once

#include <jni.h>

#include <cstdarg>

#include <map>
#include <string>
#include <vector>

#include "tests/fakes/fake_host.h"

namespace quenlet {

class FakeJvm {
 public:
  enum Step { kCreate, kFindMainClass, kFindStringClass, kGetStaticMethodID, kNewObjectArray, kNewString };

  // The VM that FakeCreateJavaVM creates while this object lives; one at a time.
  explicit FakeJvm(FakeHost& host);
  ~FakeJvm();
  FakeJvm(const FakeJvm&) = delete;
  FakeJvm& operator=(const FakeJvm&) = delete;

  // Makes libraryPath loadable on the host, exporting FakeCreateJavaVM as
  // JNI_CreateJavaVM.
  void InstallAt(const std::string& libraryPath);
  // The calls of that step from the nth on (1-based) fail: creation with
  // JNI_ERR, the others with null.
  void Fail(Step step, int fromCall = 1) { failing_[step] = fromCall; }

  // --- What the launcher passed ---
  bool Created() const { return created_; }
  jint Version() const { return version_; }
  jboolean IgnoreUnrecognized() const { return ignore_unrecognized_; }
  const std::vector<std::string>& Options() const { return options_; }
  const std::vector<std::u16string>& NewStrings() const { return new_strings_; }
  // The array main was called with, as text; empty when main was not called.
  const std::vector<std::u16string>& MainArguments() const { return main_arguments_; }
  bool MainCalled() const { return main_called_; }
  int DestroyCount() const { return destroy_count_; }

 private:
  friend jint JNICALL FakeCreateJavaVM(JavaVM** vm, void** env, void* args);

  struct Object {
    std::string name;  // as in call lines: class1, array1, string1, ...
    std::string className;
    std::u16string text;
    std::vector<jobject> elements;
  };

  static FakeJvm& Current();
  static jclass JNICALL FindClass(JNIEnv* env, const char* name);
  static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass type, const char* name, const char* signature);
  static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass type, jobject initial);
  static jstring JNICALL NewString(JNIEnv* env, const jchar* text, jsize length);
  static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value);
  static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass type, jmethodID method, va_list args);
  static jint JNICALL DestroyJavaVM(JavaVM* vm);

  bool Fails(Step step);
  void Record(const std::string& line);
  jobject NewObject(const Object& object);
  Object* Find(jobject handle);
  std::string Name(jobject handle);
  bool Usable(const char* call);
  std::string NextName(const std::string& kind);

  FakeHost& host_;
  JNINativeInterface_ functions_{};
  JNIInvokeInterface_ invocations_{};
  JNIEnv env_{};
  JavaVM vm_{};
  std::vector<Object> objects_;
  int failing_[kNewString + 1] = {};
  int counts_[kNewString + 1] = {};

  bool created_ = false;
  bool destroyed_ = false;
  jint version_ = 0;
  jboolean ignore_unrecognized_ = JNI_FALSE;
  std::vector<std::string> options_;
  std::vector<std::u16string> new_strings_;
  std::vector<std::u16string> main_arguments_;
  bool main_called_ = false;
  std::map<std::string, int> name_counts_;
  int destroy_count_ = 0;
};

// The JNI_CreateJavaVM of the current FakeJvm (a plain function: the launcher
// reaches it through GetProcAddress).
jint JNICALL FakeCreateJavaVM(JavaVM** vm, void** env, void* args);

// UTF-16 text for call lines and messages: printable ASCII as is, anything else as \uXXXX.
std::string Quoted16(const std::u16string& text);

}  // namespace quenlet
