#include "publishing/publish_settings.h"

#include <set>

#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

constexpr int kMaxPostsPerDay = 1440;

// The fields of a line separated by spaces, tabs and full-width spaces; `rest` receives, for each
// field, where the line goes on from its start.
std::vector<std::string_view> Fields(std::string_view line, std::vector<std::size_t>& starts) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    const auto blankAt = [&](std::size_t at) -> std::size_t {
        if (line[at] == ' ' || line[at] == '\t') {
            return 1;
        }
        if (at + 1 < line.size() && static_cast<unsigned char>(line[at]) == 0xA1 &&
            static_cast<unsigned char>(line[at + 1]) == 0xA1) {
            return 2;
        }
        return 0;
    };
    while (i < line.size()) {
        if (const std::size_t blank = blankAt(i)) {
            i += blank;
            continue;
        }
        const std::size_t start = i;
        while (i < line.size() && blankAt(i) == 0) {
            i += GbkUnitLength(line, i);
        }
        fields.push_back(line.substr(start, i - start));
        starts.push_back(start);
    }
    return fields;
}

bool IsWebAddress(std::string_view url) {
    return FindText(url, "http://", 0, true) == 0 || FindText(url, "https://", 0, true) == 0;
}

bool IsAbsolutePath(std::string_view path) {
    return path.starts_with("/") || path.starts_with("\\") || (path.size() > 1 && path[1] == ':');
}

Text SiteAddress(std::string_view url) {
    Text address(TrimAscii(url, " \t"));
    while (address.ends_with("/")) {
        address.pop_back();
    }
    if (address.size() > 8 && FindText(address, "/wp-json", address.size() - 8, true) == address.size() - 8) {
        address.resize(address.size() - 8);
    }
    while (address.ends_with("/")) {
        address.pop_back();
    }
    return address;
}

// One line of the box; the reason when it cannot be used.
Text ReadSiteLine(std::string_view line, const Text& programFolder, SiteLine& site) {
    std::vector<std::size_t> starts;
    const std::vector<std::string_view> fields = Fields(line, starts);
    const std::string_view kind = fields.front();
    if (kind.size() == 9 && FindText(kind, "wordpress", 0, true) == 0) {
        if (fields.size() < 4) {
            return "应写成 wordpress 网址 用户名 应用密码";
        }
        site.kind = SiteLine::Kind::kWordPress;
        site.wordpress.url = SiteAddress(fields[1]);
        if (!IsWebAddress(site.wordpress.url)) {
            return "网址应以 http:// 或 https:// 开头";
        }
        site.wordpress.user = Text(fields[2]);
        for (std::size_t k = 3; k < fields.size(); ++k) {
            site.wordpress.appPassword += fields[k];
        }
        return {};
    }
    if (kind == "表单") {
        if (fields.size() < 2) {
            return "应写成 表单 配置文件";
        }
        Text path(TrimAscii(TrimSpaces(line.substr(starts[1])), " \t"));
        if (!IsAbsolutePath(path)) {
            path = programFolder + "/" + path;
        }
        FormProfileReading reading = ReadFormProfile(path);
        if (!reading.profile) {
            return reading.error;
        }
        site.kind = SiteLine::Kind::kForm;
        site.form = *reading.profile;
        return {};
    }
    return "行首应是 wordpress 或 表单";
}

Text NameOf(const SiteLine& site) {
    return site.kind == SiteLine::Kind::kWordPress ? site.wordpress.url : site.form.publish.url;
}

}  // namespace

Text StatusName(PostStatus status) {
    switch (status) {
    case PostStatus::kDraft:
        return "草稿";
    case PostStatus::kFuture:
        return "定时";
    case PostStatus::kPublish:
        break;
    }
    return "发布";
}

TextList SplitNames(std::string_view text) {
    const Text commas = ReplaceAll(ReplaceAll(text, "，", ","), "、", ",");
    TextList names;
    for (const Text& piece : SplitText(commas, ",")) {
        Text name = TrimSpaces(TrimAscii(piece, " \t\r\n"));
        if (!name.empty()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

PublishSettingsReading ReadPublishSettings(const PublishTexts& texts, const Text& programFolder) {
    PublishSettingsReading reading;
    PublishSettings& settings = reading.settings;
    settings.afterEachArticle = texts.afterEachArticle;
    settings.everySite = texts.everySite;
    settings.categories = SplitNames(texts.categories);
    settings.tags = SplitNames(texts.tags);

    std::set<Text> names;
    const TextList lines = SplitText(ReplaceAll(texts.sites, "\r\n", "\n"), "\n");
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const Text line = TrimSpaces(TrimAscii(lines[k], " \t\r"));
        if (line.empty() || line.starts_with("#")) {
            continue;
        }
        SiteLine site;
        site.lineNumber = static_cast<int>(k + 1);
        Text problem = ReadSiteLine(line, programFolder, site);
        if (problem.empty() && !names.insert(NameOf(site)).second) {
            problem = "与前面的一行是同一个网站";
        }
        if (!problem.empty()) {
            reading.problems.push_back("发布站点第" + std::to_string(k + 1) + "行无法使用，已跳过：" + problem);
            continue;
        }
        settings.sites.push_back(std::move(site));
    }

    const Text status = TrimSpaces(TrimAscii(texts.status, " \t"));
    if (status.empty() || status == "发布") {
        settings.status = PostStatus::kPublish;
    } else if (status == "草稿") {
        settings.status = PostStatus::kDraft;
    } else if (status == "定时") {
        settings.status = PostStatus::kFuture;
    } else {
        reading.error = "发布状态只能是 发布、草稿 或 定时";
        return reading;
    }
    if (settings.status == PostStatus::kFuture) {
        const Text perDay = TrimSpaces(TrimAscii(texts.postsPerDay, " \t"));
        if (!perDay.empty()) {
            int value = 0;
            bool digits = perDay.size() <= 4;
            for (char c : perDay) {
                digits = digits && c >= '0' && c <= '9';
                value = value * 10 + (c - '0');
            }
            if (!digits || value < 1 || value > kMaxPostsPerDay) {
                reading.error = "每天篇数应是 1 到 " + std::to_string(kMaxPostsPerDay) + " 之间的整数";
                return reading;
            }
            settings.postsPerDay = value;
        }
        if (!TrimSpaces(texts.hours).empty()) {
            const std::optional<DailyWindow> hours = ParseDailyWindow(texts.hours);
            if (!hours) {
                reading.error = "发布时段应写成 08:00-22:00 这样的形式";
                return reading;
            }
            settings.hours = *hours;
        }
    }
    if (settings.sites.empty()) {
        reading.error = "没有可用的发布站点：请在「发布设置」页的站点框里每行写一个网站";
    }
    return reading;
}

}  // namespace qj::publishing
