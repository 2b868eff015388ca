// Diagnostic log. Formats are wide, with the system's conventions:
// %s wide string, %S narrow string (file-system code page), %d/%u 32-bit,
// %I64d 64-bit, %p pointer.
#pragma once

void logMessage(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);

// Path of the log file (the fallback path when none could be created). Marks
// the log as handed out, so it is kept at exit.
const wchar_t* logFilePath();
