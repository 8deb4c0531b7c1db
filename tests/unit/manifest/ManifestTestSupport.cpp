#include "ManifestTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "app/KvoLauncherApp.h"

namespace {

std::string EnvironmentValue(const char* name)
{
    char value[64] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    char pair[3];
    for (const unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

}  // namespace

DialogInTempDir::DialogInTempDir() : m_previousModuleDir(theApp.m_strModuleDir)
{
    ::CreateDirectoryA((m_dir / "DownLoad").c_str(), nullptr);
    theApp.m_strModuleDir = m_dir.path();
    m_dialog = std::make_unique<CKvoLauncherDlg>();
}

DialogInTempDir::~DialogInTempDir()
{
    m_dialog.reset();
    theApp.m_strModuleDir = m_previousModuleDir;
}

std::vector<std::string> DialogInTempDir::LogLines()
{
    return LogLinesIn(m_dir);
}

std::vector<std::string> LogLinesIn(const TempDir& dir)
{
    std::vector<std::string> lines;
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((dir / "DownLoad\\AutoUpdate_*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return lines;
    ::FindClose(search);
    const std::string content = ReadWholeFile(dir / ("DownLoad\\" + std::string(found.cFileName)));
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = content.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        lines.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return lines;
}

bool RunsIsolated()
{
    return !EnvironmentValue("KVO_ISOLATED_TEST").empty();
}

std::string TestServerUrl(const std::string& path)
{
    const std::string port = EnvironmentValue("KVO_TEST_HTTP_PORT");
    EXPECT_FALSE(port.empty()) << "run under tools/with_http_server.py";
    return "http://127.0.0.1:" + port + path;
}

std::string TestServerRequestLog()
{
    // The server runs outside Wine; its Unix paths are on the drive that maps the Unix root.
    char unixPath[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("KVO_TEST_HTTP_LOG", unixPath, sizeof unixPath);
    EXPECT_TRUE(length > 0 && length < sizeof unixPath);
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return ReadWholeFile(path);
}

std::string ClosedPortUrl()
{
    return "http://127.0.0.1:" + EnvironmentValue("KVO_TEST_CLOSED_PORT") + "/AutoUpdate/update.xml";
}

std::string GeneratedBodyUrl(const std::string& body, const std::string& options)
{
    return TestServerUrl("/gen?text=" + Hex(body) + (options.empty() ? "" : "&" + options));
}

std::string ManifestText(const std::string& productAttributes, const std::string& content)
{
    return "<?xml version=\"1.0\"?>\r\n<Update>\r\n<Product " + productAttributes + ">\r\n" + content +
           "</Product>\r\n</Update>\r\n";
}

std::string FileElement(const std::string& fileName, const std::string& more)
{
    return "<File><FileName>" + fileName + "</FileName>" + more + "</File>\r\n";
}
