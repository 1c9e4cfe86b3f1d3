// Internal links placed into an article of about 4 KB as HTML paragraphs, with a site of 100 and
// of 10,000 pages whose titles are the anchors: the placement looks the anchors up in one pass, so
// its time must not grow with the number of pages.
#include <cstdio>
#include <random>

#include "bench/bench_report.h"
#include "templates/internal_links.h"

namespace {

// Characters of ordinary Chinese text, as GBK.
const std::vector<std::string>& Characters() {
    static const std::vector<std::string> characters = [] {
        const std::string common =
            "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方"
            "后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开"
            "它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此"
            "变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老"
            "头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门"
            "即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花"
            "带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段"
            "研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳"
            "便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京"
            "识适属圆包火住调满县局照参红细引听该铁价严";
        std::vector<std::string> list;
        for (std::size_t i = 0; i + 1 < common.size(); i += 2) {
            list.push_back(common.substr(i, 2));
        }
        return list;
    }();
    return characters;
}

std::string RandomText(std::mt19937& random, int characters) {
    std::uniform_int_distribution<std::size_t> pick(0, Characters().size() - 1);
    std::string text;
    for (int i = 0; i < characters; ++i) {
        text += Characters()[pick(random)];
    }
    return text;
}

qj::LinkSet Site(int pages) {
    std::mt19937 random(7);
    std::vector<qj::InternalLink> links;
    for (int i = 0; i < pages; ++i) {
        links.push_back({RandomText(random, 5 + i % 8), "https://site.example/p/" + std::to_string(i)});
    }
    return qj::LinkSet(std::move(links));
}

// Forty paragraphs of fifty characters; random text hardly ever holds a title of five or more.
const std::string& Article() {
    static const std::string article = [] {
        std::mt19937 random(11);
        std::string html;
        for (int i = 0; i < 40; ++i) {
            html += "<p>" + RandomText(random, 50) + "</p>\r\n";
        }
        return html;
    }();
    return article;
}

void BM_PlaceLinks(benchmark::State& state) {
    const qj::LinkSet links = Site(static_cast<int>(state.range(0)));
    const qj::LinkRules rules{.maxLinks = 3, .ownKeyword = "泡脚"};
    for (auto _ : state) {
        benchmark::DoNotOptimize(qj::WithLinks(Article(), qj::ChooseLinksInHtml(Article(), links, rules), links));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Article().size()));
}
BENCHMARK(BM_PlaceLinks)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    const auto report = qj::bench::RunAll(argc, argv);
    std::printf("article: %zu bytes\n", Article().size());
    std::printf("link placement per article at 10k pages: %.0f us\n", report.SecondsOf("BM_PlaceLinks/10000") * 1e6);
    std::printf("link placement growth 100->10k pages: %.1f\n",
                qj::bench::Ratio(report, "BM_PlaceLinks/10000", "BM_PlaceLinks/100"));
    return 0;
}
