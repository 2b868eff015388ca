/* Machine-dependent JNI types for Windows (x86 and x86-64), used with the
   JDK's own jni.h. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* Native methods and the invocation interface use stdcall; on x86-64 the
   attribute is ignored and the one calling convention applies. */
#define JNICALL __stdcall

/* long is 32 bits on Windows in both widths (LLP64). */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
