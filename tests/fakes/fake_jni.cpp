#include "tests/fakes/fake_jni.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

namespace quenlet {
namespace {

// The fake VM that FakeCreateJavaVM serves: JNI_CreateJavaVM is a plain
// function pointer, so a test-only global is the one way to reach it.
FakeJvm* current_jvm = nullptr;

const char kStringClass[] = "java/lang/String";
const char kMainSignature[] = "([Ljava/lang/String;)V";
const jmethodID kMainMethod = reinterpret_cast<jmethodID>(static_cast<std::uintptr_t>(0x4d41494e));

}  // namespace

std::string Quoted16(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out + "\"";
}

FakeJvm::FakeJvm(FakeHost& host) : host_(host) {
  if (current_jvm != nullptr) ADD_FAILURE() << "two FakeJvm at once";
  current_jvm = this;
  functions_.FindClass = &FakeJvm::FindClass;
  functions_.GetStaticMethodID = &FakeJvm::GetStaticMethodID;
  functions_.NewObjectArray = &FakeJvm::NewObjectArray;
  functions_.NewString = &FakeJvm::NewString;
  functions_.SetObjectArrayElement = &FakeJvm::SetObjectArrayElement;
  functions_.CallStaticVoidMethodV = &FakeJvm::CallStaticVoidMethodV;
  invocations_.DestroyJavaVM = &FakeJvm::DestroyJavaVM;
  env_.functions = &functions_;
  vm_.functions = &invocations_;
}

FakeJvm::~FakeJvm() { current_jvm = nullptr; }

void FakeJvm::InstallAt(const std::string& libraryPath) {
  Module module = this;
  host_.AddModule(libraryPath, module);
  host_.AddProc(module, "JNI_CreateJavaVM", reinterpret_cast<ProcAddress>(&FakeCreateJavaVM));
}

FakeJvm& FakeJvm::Current() { return *current_jvm; }

bool FakeJvm::Fails(Step step) {
  int count = ++counts_[step];
  return failing_[step] != 0 && count >= failing_[step];
}

void FakeJvm::Record(const std::string& line) { host_.MutableCalls().push_back(line); }

std::string FakeJvm::NextName(const std::string& kind) { return kind + std::to_string(++name_counts_[kind]); }

jobject FakeJvm::NewObject(const Object& object) {
  objects_.push_back(object);
  return reinterpret_cast<jobject>(static_cast<std::uintptr_t>(objects_.size() * 16));
}

FakeJvm::Object* FakeJvm::Find(jobject handle) {
  std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value % 16 != 0 || value / 16 > objects_.size()) return nullptr;
  return &objects_[value / 16 - 1];
}

std::string FakeJvm::Name(jobject handle) {
  if (handle == nullptr) return "null";
  Object* object = Find(handle);
  return object != nullptr ? object->name : "bad-handle";
}

// JNI calls are valid only while the VM runs.
bool FakeJvm::Usable(const char* call) {
  if (created_ && !destroyed_) return true;
  ADD_FAILURE() << call << " called with no running VM";
  return false;
}

jint JNICALL FakeCreateJavaVM(JavaVM** vm, void** env, void* args) {
  if (current_jvm == nullptr) {
    ADD_FAILURE() << "JNI_CreateJavaVM with no FakeJvm";
    return JNI_ERR;
  }
  FakeJvm& jvm = *current_jvm;
  const JavaVMInitArgs* initArgs = static_cast<const JavaVMInitArgs*>(args);
  jvm.version_ = initArgs->version;
  jvm.ignore_unrecognized_ = initArgs->ignoreUnrecognized;
  jvm.options_.clear();
  char version[16];
  std::snprintf(version, sizeof version, "0x%lx", static_cast<unsigned long>(initArgs->version));
  std::string line = "JNI_CreateJavaVM(" + std::string(version) + ", [";
  for (jint i = 0; i < initArgs->nOptions; ++i) {
    const JavaVMOption& option = initArgs->options[i];
    if (option.extraInfo != nullptr) ADD_FAILURE() << "extraInfo set on option " << i;
    jvm.options_.push_back(option.optionString != nullptr ? option.optionString : "(null)");
    line += (i > 0 ? ", " : "") + Quoted(option.optionString);
  }
  line += "], " + std::to_string(initArgs->ignoreUnrecognized) + ")";
  if (jvm.created_) ADD_FAILURE() << "a second VM created";
  if (jvm.Fails(FakeJvm::kCreate)) {
    jvm.Record(line + " = " + std::to_string(JNI_ERR));
    return JNI_ERR;
  }
  jvm.Record(line + " = 0");
  jvm.created_ = true;
  *vm = &jvm.vm_;
  *env = &jvm.env_;
  return JNI_OK;
}

jclass JNICALL FakeJvm::FindClass(JNIEnv*, const char* name) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("FindClass")) return nullptr;
  std::string line = "FindClass(" + Quoted(name) + ")";
  bool isString = name != nullptr && std::string(name) == kStringClass;
  if (jvm.Fails(isString ? kFindStringClass : kFindMainClass)) {
    jvm.Record(line + " = null");
    return nullptr;
  }
  Object object;
  object.name = jvm.NextName("class");
  object.className = name;
  jvm.Record(line + " = " + object.name);
  return static_cast<jclass>(jvm.NewObject(object));
}

jmethodID JNICALL FakeJvm::GetStaticMethodID(JNIEnv*, jclass type, const char* name, const char* signature) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("GetStaticMethodID")) return nullptr;
  std::string line =
      "GetStaticMethodID(" + jvm.Name(type) + ", " + Quoted(name) + ", " + Quoted(signature) + ")";
  // The one static method the fake classes have is main(String[]).
  bool isMain = jvm.Find(type) != nullptr && std::string(name) == "main" && std::string(signature) == kMainSignature;
  if (jvm.Fails(kGetStaticMethodID) || !isMain) {
    jvm.Record(line + " = null");
    return nullptr;
  }
  jvm.Record(line + " = main");
  return kMainMethod;
}

jobjectArray JNICALL FakeJvm::NewObjectArray(JNIEnv*, jsize length, jclass type, jobject initial) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("NewObjectArray")) return nullptr;
  std::string line =
      "NewObjectArray(" + std::to_string(length) + ", " + jvm.Name(type) + ", " + jvm.Name(initial) + ")";
  if (jvm.Fails(kNewObjectArray) || length < 0 || jvm.Find(type) == nullptr) {
    jvm.Record(line + " = null");
    return nullptr;
  }
  Object object;
  object.name = jvm.NextName("array");
  object.elements.assign(static_cast<size_t>(length), initial);
  jvm.Record(line + " = " + object.name);
  return static_cast<jobjectArray>(jvm.NewObject(object));
}

jstring JNICALL FakeJvm::NewString(JNIEnv*, const jchar* text, jsize length) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("NewString")) return nullptr;
  std::u16string value;
  if (length > 0) value.assign(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
  jvm.new_strings_.push_back(value);
  std::string line = "NewString(" + Quoted16(value) + ", " + std::to_string(length) + ")";
  if (text == nullptr) ADD_FAILURE() << "NewString with a null text";
  if (jvm.Fails(kNewString) || length < 0) {
    jvm.Record(line + " = null");
    return nullptr;
  }
  Object object;
  object.name = jvm.NextName("string");
  object.text = value;
  jvm.Record(line + " = " + object.name);
  return static_cast<jstring>(jvm.NewObject(object));
}

void JNICALL FakeJvm::SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("SetObjectArrayElement")) return;
  jvm.Record("SetObjectArrayElement(" + jvm.Name(array) + ", " + std::to_string(index) + ", " + jvm.Name(value) +
             ")");
  Object* target = jvm.Find(array);
  if (target == nullptr || index < 0 || static_cast<size_t>(index) >= target->elements.size()) {
    ADD_FAILURE() << "SetObjectArrayElement out of bounds: index " << index;
    return;
  }
  target->elements[static_cast<size_t>(index)] = value;
}

void JNICALL FakeJvm::CallStaticVoidMethodV(JNIEnv*, jclass type, jmethodID method, va_list args) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("CallStaticVoidMethod")) return;
  jobject array = va_arg(args, jobject);
  jvm.Record("CallStaticVoidMethod(" + jvm.Name(type) + ", " + (method == kMainMethod ? "main" : "bad-method") +
             ", " + jvm.Name(array) + ")");
  jvm.main_called_ = true;
  jvm.main_arguments_.clear();
  Object* target = jvm.Find(array);
  if (target == nullptr) {
    ADD_FAILURE() << "main called without an argument array";
    return;
  }
  for (jobject element : target->elements) {
    Object* text = jvm.Find(element);
    if (text == nullptr) {
      ADD_FAILURE() << "main's argument array holds a null entry";
      jvm.main_arguments_.push_back(u"(null)");
    } else {
      jvm.main_arguments_.push_back(text->text);
    }
  }
}

jint JNICALL FakeJvm::DestroyJavaVM(JavaVM*) {
  FakeJvm& jvm = Current();
  if (!jvm.Usable("DestroyJavaVM")) return JNI_ERR;
  jvm.Record("DestroyJavaVM() = 0");
  jvm.destroyed_ = true;
  ++jvm.destroy_count_;
  return JNI_OK;
}

}  // namespace quenlet
