#pragma once

#include <map>
#include <optional>
#include <string_view>

#include "text/types.h"

namespace qj::publishing {

enum class FormEncoding { kGbk, kUtf8 };
enum class FormFormat { kUrlEncoded, kMultipart };

// One form a web-publishing profile sends.
struct FormStep {
    Text url;
    bool post = true;     // POST, or GET with the fields in the query
    Text fields;          // "name=value&name=value"; placeholders {标题} {内容} {关键词} {分类} {标签} {日期}
    Text successMarker;   // text, or "/regular expression/"; empty: none
    Text failureMarker;
};

// A web-publishing form profile (表单): an ini-style file, GBK or UTF-8, with the sections
// [登录] (optional), [发布] and [列表] (optional). See the README for its keys.
struct FormProfile {
    Text file;                   // where it was read from
    std::optional<FormStep> login;
    FormStep publish;
    FormEncoding encoding = FormEncoding::kGbk;
    FormFormat format = FormFormat::kUrlEncoded;
    Text listUrl;                // empty: none
};

struct FormProfileReading {
    std::optional<FormProfile> profile;
    Text error;  // why the profile cannot be used (GBK)
};

// Reads a profile from a file; `file` is its path (GBK).
FormProfileReading ReadFormProfile(const Text& file);
// Reads a profile from the bytes of its file.
FormProfileReading ParseFormProfile(std::string_view bytes, const Text& file);

// Whether a marker is in a page: a marker written between slashes ("/发布(成功|完成)/") is a
// regular expression, any other is text found as written.
bool MarkerFound(const Text& marker, const Text& page);

// The values of the placeholders of one post, GBK.
using FormValues = std::map<Text, Text>;  // "{标题}" -> title, ...

struct FormBody {
    Bytes bytes;
    Text contentType;  // empty for a query
};

// The fields with each placeholder replaced by its value in the form's encoding, escaped as the
// format needs: percent escapes for urlencoded (and for a query), nothing for multipart, where each
// name=value pair becomes a part. The literal parts are sent as written (in the form's encoding).
// `boundary` separates multipart parts; it is made longer until no value holds it.
FormBody BuildFormBody(std::string_view fields, const FormValues& values, FormEncoding encoding, FormFormat format,
                       Text boundary = "----QingjianFormBoundary");

}  // namespace qj::publishing
