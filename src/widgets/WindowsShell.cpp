#include "widgets/WindowsShell.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include <cstdint>

namespace varnel {

namespace {

const wchar_t* Wide(const QString& s)
{
    return reinterpret_cast<const wchar_t*>(s.utf16());
}

// The default value of a key under the classes root; false when the key does not open.
bool QueryClassesRoot(const QString& path, QString& value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(path), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[MAX_PATH] = {};
    LONG size = sizeof buffer;
    if (RegQueryValueW(key, nullptr, buffer, &size) == ERROR_SUCCESS)
        value = QString::fromWCharArray(buffer);
    RegCloseKey(key);
    return true;
}

} // namespace

int ShellOpen(const QString& file, const QString& parameters, int showCommand)
{
    const HINSTANCE result = ShellExecuteW(
        nullptr, L"open", Wide(file), parameters.isEmpty() ? nullptr : Wide(parameters), L"", showCommand);
    return static_cast<int>(reinterpret_cast<std::intptr_t>(result));
}

QString HtmOpenCommand()
{
    QString documentClass;
    QString command;
    if (!QueryClassesRoot(QStringLiteral(".htm"), documentClass)
        || !QueryClassesRoot(documentClass + QStringLiteral("\\shell\\open\\command"), command))
        return {};
    return command;
}

int RunCommandLine(const QString& commandLine, int showCommand)
{
    return static_cast<int>(WinExec(commandLine.toLocal8Bit().constData(), static_cast<UINT>(showCommand)));
}

} // namespace varnel
