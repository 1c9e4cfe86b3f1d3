#include "templates/link_sources.h"

#include <array>
#include <cctype>
#include <map>
#include <unordered_set>

#include "templates/blanks.h"
#include "templates/html_scan.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

bool IsBlankUnit(std::string_view unit) {
    return unit == " " || unit == "\t" || unit == kWideSpace;
}

bool IsWebUrl(std::string_view url) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (url.size() > scheme.size() && FindText(url.substr(0, scheme.size()), scheme, 0, true) == 0) {
            return true;
        }
    }
    return false;
}

// The text between the tags of an element whose opening tag ends at `from`, up to its closing tag
// (CDATA sections taken as they are, character references decoded); `from` is moved behind it.
std::string ElementText(std::string_view xml, std::size_t& from) {
    std::string text;
    std::size_t i = from;
    while (i < xml.size()) {
        std::size_t lt = xml.find('<', i);
        while (lt != std::string_view::npos && !OpensMarkup(xml, lt)) {
            lt = xml.find('<', lt + 1);
        }
        const std::size_t textEnd = lt == std::string_view::npos ? xml.size() : lt;
        text += DecodeCharacterReferences(xml.substr(i, textEnd - i));
        if (lt == std::string_view::npos) {
            i = xml.size();
            break;
        }
        const std::size_t end = MarkupEnd(xml, lt, true);
        const std::string_view markup = xml.substr(lt, end - lt);
        i = end;
        if (markup.starts_with("<![CDATA[")) {
            text += markup.substr(9, markup.ends_with("]]>") ? markup.size() - 12 : markup.size() - 9);
        } else if (ReadTag(markup).closing) {
            break;
        }
    }
    from = i;
    return text;
}

// Without blanks at either end, and every run of blanks and line breaks inside as one space.
std::string OneLine(std::string_view utf8) {
    std::string line;
    bool blank = false;
    for (const char c : utf8) {
        if (IsAsciiBlank(c)) {
            blank = true;
            continue;
        }
        if (blank && !line.empty()) {
            line.push_back(' ');
        }
        blank = false;
        line.push_back(c);
    }
    return line;
}

// The document as UTF-8: a byte-order mark decides, else a declared GBK charset, else UTF-8.
std::string DocumentAsUtf8(std::string_view bytes, bool gbkDeclared) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return std::string(bytes.substr(3));
    }
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        std::string units(bytes.substr(2));
        if (bytes[0] == '\xFE') {
            for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
                std::swap(units[i], units[i + 1]);
            }
        }
        units.append(2, '\0');
        return WideToText(units, kCodePageUtf8);
    }
    return gbkDeclared ? AnsiToUtf8(bytes) : std::string(bytes);
}

bool IsGbkCharset(std::string_view name) {
    for (const std::string_view gbk : {"gbk", "gb2312", "gb18030", "x-gbk", "cp936"}) {
        if (name.size() == gbk.size() && FindText(name, gbk, 0, true) == 0) {
            return true;
        }
    }
    return false;
}

// The charset named after the first "charset" (or "encoding", for an XML declaration) of `text`.
std::string_view NamedCharset(std::string_view text, std::string_view word = "charset") {
    const std::size_t at = FindText(text, word, 0, true);
    if (at == kNotFound) {
        return {};
    }
    std::size_t i = at + word.size();
    while (i < text.size() && (IsAsciiBlank(text[i]) || text[i] == '=' || text[i] == '"' || text[i] == '\'')) {
        ++i;
    }
    const std::size_t start = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '-' || text[i] == '_')) {
        ++i;
    }
    return text.substr(start, i - start);
}

// The bytes in front of the last separator of a title, and behind it, when it has one with text on
// both sides.
struct SiteSplit {
    std::size_t prefixEnd = 0;
    Text suffix;
};
std::optional<SiteSplit> SplitAtLastSeparator(std::string_view title) {
    static constexpr std::array<std::string_view, 7> kSeparators{
        "-", "_", "|", "\xA3\xFC" /* ｜ */, "\xA3\xAD" /* － */, "\xA1\xAA" /* — */, "\xA3\xDF" /* ＿ */};
    std::optional<std::pair<std::size_t, std::size_t>> last;  // at, length
    for (std::size_t i = 0; i < title.size();) {
        const std::size_t unit = GbkUnitLength(title, i);
        for (const std::string_view separator : kSeparators) {
            if (title.substr(i, unit) == separator) {
                last = {i, unit};
            }
        }
        i += unit;
    }
    if (!last) {
        return std::nullopt;
    }
    const std::string_view before = TrimBlanks(title.substr(0, last->first));
    const std::string_view after = TrimBlanks(title.substr(last->first + last->second));
    if (before.empty() || after.empty()) {
        return std::nullopt;
    }
    return SiteSplit{before.size() + static_cast<std::size_t>(before.data() - title.data()), Text(after)};
}

}  // namespace

Text AsciiUrl(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    Text ascii;
    ascii.reserve(url.size());
    for (const char c : url) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>') {
            ascii.push_back('%');
            ascii.push_back(kHex[b >> 4]);
            ascii.push_back(kHex[b & 0x0F]);
        } else {
            ascii.push_back(c);
        }
    }
    return ascii;
}

LinkLines ReadLinkLines(std::string_view text) {
    LinkLines result;
    int number = 0;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = FindLineBreak(text, from);
        const std::string_view line = TrimBlanks(text.substr(from, end - from));
        from = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
        ++number;
        if (line.empty() || line.starts_with('#')) {
            continue;
        }
        // The URL is the last field: behind the last run of blanks.
        std::optional<std::size_t> urlAt;
        bool blank = false;
        for (std::size_t i = 0; i < line.size();) {
            const std::size_t unit = GbkUnitLength(line, i);
            const bool isBlank = IsBlankUnit(line.substr(i, unit));
            if (blank && !isBlank) {
                urlAt = i;
            }
            blank = isBlank;
            i += unit;
        }
        if (!urlAt) {
            result.skipped.push_back({number, "没有链接地址（每行写锚文本和网址，中间用空格分开）"});
            continue;
        }
        const std::string_view url = line.substr(*urlAt);
        if (!IsWebUrl(url) && !url.starts_with('/')) {
            result.skipped.push_back({number, "链接地址不是 http/https 网址，也不是以 / 开头的站内路径：" + Text(url)});
            continue;
        }
        result.links.push_back({Text(TrimBlanks(line.substr(0, *urlAt))), AsciiUrl(AnsiToUtf8(url))});
    }
    return result;
}

bool LooksLikeSitemap(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 65536);
    for (const std::string_view root : {"<urlset", "<sitemapindex", ":urlset", ":sitemapindex"}) {
        if (FindText(head, root, 0, true) != kNotFound) {
            return true;
        }
    }
    // A sitemap in UTF-16 has zero bytes between the letters.
    return head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")
               ? LooksLikeSitemap(DocumentAsUtf8(head.substr(0, head.size() & ~std::size_t{1}), false))
               : false;
}

Sitemap ReadSitemap(std::string_view bytes) {
    const bool gbk =
        bytes.starts_with("<?") && IsGbkCharset(NamedCharset(bytes.substr(0, bytes.find('>')), "encoding"));
    const std::string xml = DocumentAsUtf8(bytes, gbk);
    Sitemap sitemap;
    std::unordered_set<Text> seen;

    bool inEntry = false;
    bool entryIsSitemap = false;
    SitemapPage entry;
    for (std::size_t i = 0; i < xml.size();) {
        const std::size_t lt = xml.find('<', i);
        if (lt == std::string::npos) {
            break;
        }
        if (!OpensMarkup(xml, lt)) {
            i = lt + 1;
            continue;
        }
        i = MarkupEnd(xml, lt, true);
        const Tag tag = ReadTag(std::string_view(xml).substr(lt, i - lt));
        const std::string_view local = tag.LocalName();
        const std::string_view prefix = std::string_view(tag.name).substr(0, tag.name.size() - local.size());
        if (local == "url" || local == "sitemap") {
            if (!tag.closing && !tag.selfClosing) {
                inEntry = true;
                entryIsSitemap = local == "sitemap";
                entry = {};
            } else if (tag.closing && inEntry) {
                inEntry = false;
                if (!entry.url.empty() && seen.insert(entry.url).second) {
                    if (entryIsSitemap) {
                        sitemap.sitemaps.push_back(entry.url);
                    } else {
                        sitemap.pages.push_back(entry);
                    }
                }
            }
            continue;
        }
        if (!inEntry || tag.closing || tag.selfClosing) {
            continue;
        }
        // An entry's own fields; an image's or a video's location and title are not the page's.
        const bool own = prefix.empty() || prefix == "news:" || prefix == "sm:";
        if (local == "loc" && own && entry.url.empty()) {
            const std::string loc(TrimAsciiBlanks(ElementText(xml, i)));
            if (IsWebUrl(loc)) {
                entry.url = AsciiUrl(loc);
            }
        } else if (local == "lastmod" && own) {
            entry.lastModified = Text(TrimAsciiBlanks(ElementText(xml, i)));
        } else if (local == "title" && own) {
            entry.title = Utf8ToAnsi(OneLine(ElementText(xml, i)));
        }
    }
    return sitemap;
}

Text PageTitle(std::string_view html, std::string_view contentType) {
    std::string_view charset = NamedCharset(contentType);
    // The head is where a page names its charset and titles.
    const std::size_t bodyAt = FindText(html, "<body", 0, true);
    const std::string_view head = html.substr(0, bodyAt == kNotFound ? html.size() : bodyAt);
    std::optional<std::string_view> ogTitle;
    std::optional<std::string_view> title;
    for (std::size_t i = 0; i < head.size();) {
        const std::size_t lt = head.find('<', i);
        if (lt == std::string_view::npos) {
            break;
        }
        if (!OpensMarkup(head, lt)) {
            i = lt + 1;
            continue;
        }
        i = MarkupEnd(head, lt);
        const std::string_view markup = head.substr(lt, i - lt);
        const Tag tag = ReadTag(markup);
        if (tag.closing) {
            continue;
        }
        if (tag.name == "meta") {
            const std::string_view property =
                AttributeOf(markup, "property").value_or(AttributeOf(markup, "name").value_or(""));
            if (!ogTitle && property.size() == 8 && FindText(property, "og:title", 0, true) == 0) {
                ogTitle = AttributeOf(markup, "content");
            }
            if (charset.empty()) {
                charset = AttributeOf(markup, "charset").value_or("");
            }
            if (charset.empty()) {
                charset = NamedCharset(AttributeOf(markup, "content").value_or(""));
            }
        } else if (tag.name == "title" && !title && !tag.selfClosing) {
            std::size_t end = head.find('<', i);
            while (end != std::string_view::npos && !OpensMarkup(head, end)) {
                end = head.find('<', end + 1);
            }
            title = head.substr(i, (end == std::string_view::npos ? head.size() : end) - i);
        }
    }
    const bool gbk = charset.empty() ? !IsCleanUtf8(head) : IsGbkCharset(charset);
    const std::string_view raw = ogTitle && !TrimAsciiBlanks(*ogTitle).empty() ? *ogTitle : title.value_or("");
    const std::string utf8 = gbk ? AnsiToUtf8(raw) : std::string(raw);
    return Utf8ToAnsi(OneLine(DecodeCharacterReferences(utf8)));
}

void DropSharedSiteName(std::vector<Text>& titles) {
    std::vector<std::optional<SiteSplit>> splits;
    std::map<Text, int> counts;
    int withSeparator = 0;
    for (const Text& title : titles) {
        splits.push_back(SplitAtLastSeparator(title));
        if (splits.back()) {
            ++withSeparator;
            ++counts[splits.back()->suffix];
        }
    }
    const Text* shared = nullptr;
    int most = 0;
    for (const auto& [suffix, count] : counts) {
        if (count > most) {
            most = count;
            shared = &suffix;
        }
    }
    if (!shared || most < 2 || most * 2 < withSeparator) {
        return;
    }
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (splits[i] && splits[i]->suffix == *shared) {
            titles[i].resize(splits[i]->prefixEnd);
        }
    }
}

}  // namespace qj
