#include "platform/foundation/URL.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>

namespace ns {

namespace {

bool isUnreserved(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(unsigned char c) { return std::strchr("!$&'()*+,;=", c) != nullptr && c != 0; }
bool isHex(unsigned char c) { return std::isxdigit(c) != 0; }

// Characters that may appear anywhere in URL text (escapes checked separately).
bool isUrlCharacter(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '/' || c == '?' || c == '#' || c == '[' || c == ']' ||
           c == '@' || c == '%';
}

constexpr std::string_view kPathAllowed = "!$&'()*+,;=:@/";

}  // namespace

std::string URL::percentEncode(std::string_view text, std::string_view allowed) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c) || (c != 0 && allowed.find(static_cast<char>(c)) != std::string_view::npos)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> URL::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const unsigned char h = static_cast<unsigned char>(text[i + 1]), l = static_cast<unsigned char>(text[i + 2]);
        if (!isHex(h) || !isHex(l)) return std::nullopt;
        auto val = [](unsigned char c) { return std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10; };
        out.push_back(static_cast<char>(val(h) * 16 + val(l)));
        i += 2;
    }
    return out;
}

std::optional<URL> URL::URLWithString(std::string_view text) {
    if (text.empty()) return std::nullopt;
    size_t hashes = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!isUrlCharacter(c)) return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || !isHex(static_cast<unsigned char>(text[i + 1])) ||
                         !isHex(static_cast<unsigned char>(text[i + 2]))))
            return std::nullopt;
        if (c == '#' && ++hashes > 1) return std::nullopt;
    }

    URL url;
    url.text_ = std::string(text);
    std::string_view rest = text;

    // scheme ":" — only when the first ":" precedes any "/", "?" or "#".
    const size_t colon = rest.find(':');
    const size_t firstDelimiter = rest.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0 && (firstDelimiter == std::string_view::npos || colon < firstDelimiter)) {
        const std::string_view scheme = rest.substr(0, colon);
        bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) != 0;
        for (unsigned char c : scheme) valid = valid && (std::isalnum(c) || c == '+' || c == '-' || c == '.');
        if (!valid) return std::nullopt;
        url.scheme_ = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }

    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const size_t q = rest.find('?'); q != std::string_view::npos) {
        url.query_ = std::string(rest.substr(q + 1));
        rest = rest.substr(0, q);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        url.authority_ = std::string(authority);
        if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
            url.userInfo_ = std::string(authority.substr(0, at));
            authority.remove_prefix(at + 1);
        }
        std::string_view hostPort = authority;
        std::string_view portText;
        bool hasPort = false;
        if (!hostPort.empty() && hostPort[0] == '[') {
            const size_t close = hostPort.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            const std::string_view after = hostPort.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                hasPort = true;
                portText = after.substr(1);
            }
            hostPort = hostPort.substr(0, close + 1);
        } else if (const size_t c = hostPort.rfind(':'); c != std::string_view::npos) {
            hasPort = true;
            portText = hostPort.substr(c + 1);
            hostPort = hostPort.substr(0, c);
        }
        if (hostPort.find_first_of("[]") != std::string_view::npos && hostPort[0] != '[') return std::nullopt;
        url.host_ = std::string(hostPort);
        if (hasPort && !portText.empty()) {
            if (portText.size() > 5) return std::nullopt;
            int port = 0;
            for (unsigned char c : portText) {
                if (!std::isdigit(c)) return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port > 65535) return std::nullopt;
            url.port_ = port;
        }
    }
    if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
    url.path_ = std::string(rest);
    return url;
}

URL URL::fileURLWithPath(std::string_view path, bool isDirectory) {
    std::string absolute;
    if (!path.empty() && path[0] == '/') {
        absolute = std::string(path);
    } else {
        char cwd[PATH_MAX];
        absolute = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
        if (absolute.back() != '/') absolute.push_back('/');
        absolute.append(path);
    }
    if (isDirectory && absolute.back() != '/') absolute.push_back('/');
    URL url;
    url.scheme_ = "file";
    url.authority_ = "";
    url.path_ = percentEncode(absolute, kPathAllowed);
    url.rebuild();
    return url;
}

void URL::rebuild() {
    std::string s;
    if (scheme_) s += *scheme_ + ":";
    if (authority_) s += "//" + *authority_;
    s += path_;
    if (query_) s += "?" + *query_;
    if (fragment_) s += "#" + *fragment_;
    text_ = std::move(s);
}

std::optional<std::string> URL::host() const {
    if (!authority_) return std::nullopt;
    if (host_.empty()) return authority_->empty() ? std::nullopt : std::optional<std::string>("");
    if (host_.front() == '[' && host_.back() == ']') return host_.substr(1, host_.size() - 2);
    return percentDecode(host_).value_or(host_);
}

std::optional<std::string> URL::user() const {
    if (!userInfo_) return std::nullopt;
    const std::string u = userInfo_->substr(0, userInfo_->find(':'));
    return percentDecode(u).value_or(u);
}

std::optional<std::string> URL::password() const {
    if (!userInfo_) return std::nullopt;
    const size_t c = userInfo_->find(':');
    if (c == std::string::npos) return std::nullopt;
    const std::string p = userInfo_->substr(c + 1);
    return percentDecode(p).value_or(p);
}

std::string URL::path() const {
    std::string p = percentDecode(path_).value_or(path_);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::vector<std::string> URL::pathComponents() const {
    std::vector<std::string> out;
    const std::string p = path();
    if (p.empty()) return out;
    if (p[0] == '/') out.emplace_back("/");
    size_t pos = 0;
    while (pos < p.size()) {
        const size_t slash = p.find('/', pos);
        const std::string part = p.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (!part.empty()) out.push_back(part);
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    return out;
}

std::string URL::lastPathComponent() const {
    const auto parts = pathComponents();
    return parts.empty() ? std::string() : parts.back();
}

std::string URL::pathExtension() const {
    const std::string last = lastPathComponent();
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
    return last.substr(dot + 1);
}

bool URL::isFileURL() const {
    if (!scheme_) return false;
    std::string s = *scheme_;
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s == "file";
}

URL URL::URLByAppendingPathComponent(std::string_view component, bool isDirectory) const {
    URL out = *this;
    if (out.path_.empty() || out.path_.back() != '/') {
        if (!(out.path_.empty() && !out.authority_)) out.path_.push_back('/');
    }
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    out.path_ += percentEncode(component, kPathAllowed);
    if (isDirectory && (out.path_.empty() || out.path_.back() != '/')) out.path_.push_back('/');
    out.rebuild();
    return out;
}

URL URL::URLByDeletingLastPathComponent() const {
    URL out = *this;
    std::string p = out.path_;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) {
        p.clear();
    } else {
        p = p.substr(0, slash + 1);
    }
    out.path_ = p;
    out.rebuild();
    return out;
}

}  // namespace ns
