// libFuzzer target: the credit replies of interfaces one and two, the Wenxin token reply and the
// notices (advert lines and the base64 that keeps their sources). Properties: a refused reply
// names no figures and no token, and what is read is a piece of the reply; base64 round-trips;
// an advert line gives pieces of itself, the title before any separator.
#include "fuzz_support.h"
#include "services/credit_query.h"
#include "services/wenxin_client.h"
#include "http/base64.h"
#include "notices/advert_list.h"
#include "notices/notice_sources.h"
#include "text/text_helpers.h"

namespace {

using qj::fuzz::Shown;

bool PieceOf(const qj::Text& piece, const qj::Text& whole) {
    return whole.find(piece) != qj::Text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qj::Bytes bytes(reinterpret_cast<const char*>(data), size);
    // The readers get the reply up to its first zero byte, as the HTTP layer hands it over.
    const qj::Text reply(bytes.c_str());

    for (const qj::CreditService& service : {qj::InterfaceOneCredit(), qj::InterfaceTwoCredit()}) {
        const qj::Result<qj::CreditFigures> figures = service.read(reply);
        if (figures) {
            QJ_FUZZ_CHECK(PieceOf(figures->available, reply) && PieceOf(figures->used, reply), "reply " + Shown(reply));
            static_cast<void>(qj::CreditResultLine(*figures));
        } else {
            QJ_FUZZ_CHECK(figures.error().reason == reply, "reply " + Shown(reply));
        }
    }
    const qj::Result<qj::Text> token = qj::ReadWenxinTokenReply(reply);
    QJ_FUZZ_CHECK(!token || PieceOf(*token, reply), "reply " + Shown(reply));

    QJ_FUZZ_CHECK(qj::Base64Decode(qj::Base64Encode(bytes)) == bytes, "bytes " + Shown(bytes));
    static_cast<void>(qj::Base64Decode(bytes));

    static_cast<void>(qj::IsUnusableNotice(reply));
    for (const qj::Text& line : qj::SplitText(reply, "\r\n")) {
        const qj::AdvertLine advert = qj::ParseAdvertLine(line);
        QJ_FUZZ_CHECK(PieceOf(advert.title, line) && PieceOf(advert.address, line), "line " + Shown(line));
        QJ_FUZZ_CHECK(qj::FindText(advert.title, "----") == qj::kNotFound, "line " + Shown(line));
    }
    return 0;
}
