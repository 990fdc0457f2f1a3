#pragma once

#include <QString>

namespace varnel {

// The Windows shell and class registry, as the window and the link label use
// them. Built on Windows only.

// ShellExecute with the verb "open"; returns its result code (above 32: done).
int ShellOpen(const QString& file, const QString& parameters, int showCommand);
// The open command of the class registered for ".htm"; empty when a key of the
// way there cannot be opened.
QString HtmOpenCommand();
// Runs a command line (WinExec); returns its result code (above 31: started).
int RunCommandLine(const QString& commandLine, int showCommand);

} // namespace varnel
