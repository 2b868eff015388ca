#include "natives/natives_common.h"

#include <windows.h>

#include <jni.h>

// The JDK's jni.h with our jni_md.h must give the Java sizes.
static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8 && sizeof(jbyte) == 1, "JNI type sizes");
static_assert(sizeof(jchar) == sizeof(wchar_t), "jchar and wchar_t are both UTF-16 units");

void preloadShellDependencies() {
    static bool done = false;
    if (done) return;
    done = true;
    LoadLibraryW(L"davhlpr.dll");
    LoadLibraryW(L"fwbase.dll");
}
