#pragma once
// NSURL stand-in: an RFC 3986 URL reference kept as its text plus the parsed
// parts. Accessors return what NSURL returns: path() percent-decoded and
// without a trailing slash, query() and fragment() as written.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

class URL {
public:
    // nullopt for empty text, characters that are not allowed in a URL (spaces,
    // control and non-ASCII characters, "<>\"{}|\\^`"), malformed percent
    // escapes, a second "#", or a malformed authority or port.
    static std::optional<URL> URLWithString(std::string_view text);
    // "file://" and the percent-encoded absolute path (relative paths are taken
    // from the current directory); a trailing "/" when isDirectory.
    static URL fileURLWithPath(std::string_view path, bool isDirectory = false);

    const std::string& absoluteString() const { return text_; }
    std::string description() const { return text_; }

    const std::optional<std::string>& scheme() const { return scheme_; }
    // Without the brackets of an IPv6 literal.
    std::optional<std::string> host() const;
    std::optional<int> port() const { return port_; }
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    std::string path() const;
    // The path as written, percent escapes kept.
    const std::string& percentEncodedPath() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    std::vector<std::string> pathComponents() const;
    std::string lastPathComponent() const;
    std::string pathExtension() const;
    bool hasDirectoryPath() const { return !path_.empty() && path_.back() == '/'; }
    bool isFileURL() const;

    URL URLByAppendingPathComponent(std::string_view component, bool isDirectory = false) const;
    URL URLByDeletingLastPathComponent() const;

    friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }
    friend bool operator!=(const URL& a, const URL& b) { return !(a == b); }
    friend bool operator<(const URL& a, const URL& b) { return a.text_ < b.text_; }
    size_t hash() const { return std::hash<std::string>()(text_); }

    // Percent-encodes every byte outside the unreserved set and `allowed`.
    static std::string percentEncode(std::string_view text, std::string_view allowed);
    // nullopt for a malformed escape.
    static std::optional<std::string> percentDecode(std::string_view text);

private:
    URL() = default;
    void rebuild();

    std::string text_;
    std::optional<std::string> scheme_;
    std::optional<std::string> authority_;  // between "//" and the path
    std::optional<std::string> userInfo_;
    std::string host_;  // as written (brackets kept)
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace ns

template <>
struct std::hash<ns::URL> {
    size_t operator()(const ns::URL& u) const noexcept { return u.hash(); }
};
