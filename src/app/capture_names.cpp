#include "app/capture_names.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace tv {

std::string JoinCapturePath(const std::string& folder, const std::string& name) {
    if (folder.size() < 2) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string StillCaptureName(const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    char name[64];
    std::snprintf(name, sizeof name, "%02d%02d%02d-%02d%02d%02d.bmp", d.year(), d.month(), d.day(),
                  t.hour(), t.minute(), t.second());
    return name;
}

std::string RecordingName(const QDateTime& when) {
    return when.toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() + ".QZF";
}

namespace {

// A writer opening the name would follow a link to wherever it leads.
bool NameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string UniquePath(const std::string& path) {
    if (!NameTaken(path)) {
        return path;
    }
    const size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = path.size();
    }
    for (int n = 2; n < 10000; ++n) {
        const std::string candidate =
            path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
        if (!NameTaken(candidate)) {
            return candidate;
        }
    }
    return {};
}

std::string ResolveIpv4(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 ||
            result == nullptr) {
            return "0.0.0.0";
        }
        address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
        freeaddrinfo(result);
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace tv
