/* Machine-dependent JNI types for Windows targets built with mingw-w64: the
   Windows calling convention and integer sizes of the JNI on Windows. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#ifdef _WIN64
#define JNICALL
#else
#define JNICALL __stdcall
#endif

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
