#pragma once

#include <string_view>


namespace qj {

// Names of the main window's controls, in control order. They are also the keys of 配置.ini.
namespace control {
inline constexpr const char* kCheckSaveAsHtml =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xD2\xD4HTML\xD4\xB4\xC2\xEB\xD0\xCE\xCA\xBD\xB1\xA3\xB4\xE6";  // 选择框_以HTML源码形式保存
inline constexpr const char* kRadioInterfaceTwo = "\xB5\xA5\xD1\xA1\xBF\xF2_\xBD\xD3\xBF\xDA\xB6\xFE";  // 单选框_接口二
inline constexpr const char* kRadioInterfaceOne = "\xB5\xA5\xD1\xA1\xBF\xF2_\xBD\xD3\xBF\xDA\xD2\xBB";  // 单选框_接口一
inline constexpr const char* kRadioInterfaceThree =
    "\xB5\xA5\xD1\xA1\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD";  // 单选框_接口三
inline constexpr const char* kLabelInterface =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "10";                                                                        // 透明标签10
inline constexpr const char* kButtonTest = "\xB0\xB4\xC5\xA5_\xB2\xE2\xCA\xD4";  // 按钮_测试
inline constexpr const char* kLabelSecretKey =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "9";  // 透明标签9
inline constexpr const char* kEditWenxinSecretKey =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB0\xD9\xB6\xC8\xCE\xC4\xD0\xC4_Secretkey";  // 编辑框_百度文心_Secretkey
inline constexpr const char* kLabelWenxinApiKey =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "8";  // 透明标签8
inline constexpr const char* kEditWenxinApiKey =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB0\xD9\xB6\xC8\xCE\xC4\xD0\xC4_APIKEY";  // 编辑框_百度文心_APIKEY
inline constexpr const char* kCheckPreview =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xD4\xA4\xC0\xC0\xC9\xFA\xB3\xC9\xC4\xDA\xC8\xDD";  // 选择框_预览生成内容
inline constexpr const char* kLabelFailedKeywords =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "7";  // 透明标签7
inline constexpr const char* kButtonViewFailedKeywords =
    "\xB0\xB4\xC5\xA5_OpenAi_\xB2\xE9\xBF\xB4\xCA\xA7\xB0\xDC\xB9\xD8\xBC\xFC\xB4\xCA";  // 按钮_OpenAi_查看失败关键词
inline constexpr const char* kLabelUsage =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "6";  // 透明标签6
inline constexpr const char* kLabelOutput =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "5";  // 透明标签5
inline constexpr const char* kButtonViewOutput =
    "\xB0\xB4\xC5\xA5_OpenAi_\xB2\xE9\xBF\xB4\xC9\xFA\xB3\xC9\xC4\xDA\xC8\xDD";  // 按钮_OpenAi_查看生成内容
inline constexpr const char* kLabelKeywordHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "4";  // 透明标签4
inline constexpr const char* kLabelCredit =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "3";  // 透明标签3
inline constexpr const char* kButtonQueryCredit =
    "\xB0\xB4\xC5\xA5_OpenAi_\xB2\xE9\xD1\xAF\xD3\xE0\xB6\xEE";  // 按钮_OpenAi_查询余额
inline constexpr const char* kEditOpenAiKey =
    "\xB1\xE0\xBC\xAD\xBF\xF2_OpenAi_API\xC3\xD8\xD4\xBF";  // 编辑框_OpenAi_API秘钥
inline constexpr const char* kLabelApiKey =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "2";  // 透明标签2
inline constexpr const char* kButtonImportKeywords =
    "\xB0\xB4\xC5\xA5_OpenAi_\xB5\xBC\xC8\xEB\xB2\xC9\xBC\xAF\xB9\xD8\xBC\xFC\xB4\xCA";  // 按钮_OpenAi_导入采集关键词
inline constexpr const char* kLabelKeywords =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "1";                                                                          // 透明标签1
inline constexpr const char* kButtonStart = "\xB0\xB4\xC5\xA5_\xBF\xAA\xCA\xBC";  // 按钮_开始
inline constexpr const char* kButtonStop = "\xB0\xB4\xC5\xA5_\xBD\xE1\xCA\xF8";   // 按钮_结束
inline constexpr const char* kButtonSaveSettings =
    "\xB0\xB4\xC5\xA5_\xB1\xA3\xB4\xE6\xC5\xE4\xD6\xC3";  // 按钮_保存配置
inline constexpr const char* kGroupAdverts =
    "\xB7\xD6\xD7\xE9\xBF\xF2"
    "6";  // 分组框6
inline constexpr const char* kLabelAdvertNotice =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9"
    "18";  // 透明标签18
inline constexpr const char* kListAdverts =
    "\xB3\xAC\xBC\xB6\xC1\xD0\xB1\xED\xBF\xF2_\xC4\xDA\xD2\xB3\xB9\xE3\xB8\xE6";  // 超级列表框_内页广告
inline constexpr const char* kEditLatestVersion =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xD7\xEE\xD0\xC2\xB0\xE6\xB1\xBE";  // 编辑框_最新版本
inline constexpr const char* kLabelCurrentVersion =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB5\xB1\xC7\xB0\xB0\xE6\xB1\xBE";  // 透明标签_当前版本
inline constexpr const char* kLabelBlog =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB9\xD9\xB7\xBD\xCD\xF8\xD5\xBE";  // 透明标签_官方网站
inline constexpr const char* kGroupUpdate =
    "\xB7\xD6\xD7\xE9\xBF\xF2"
    "5";  // 分组框5
inline constexpr const char* kEditRunLog =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xD4\xCB\xD0\xD0\xC8\xD5\xD6\xBE";  // 编辑框_运行日志
inline constexpr const char* kTabMain =
    "\xB8\xDF\xBC\xB6\xD1\xA1\xD4\xF1\xBC\xD0"
    "1";  // 高级选择夹1
// The page of interface three: each edit box with its label.
inline constexpr const char* kLabelInterfaceThreeBaseUrl =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_API\xB5\xD8\xD6\xB7";  // 透明标签_接口三_API地址
inline constexpr const char* kEditInterfaceThreeBaseUrl =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_API\xB5\xD8\xD6\xB7";  // 编辑框_接口三_API地址
inline constexpr const char* kLabelInterfaceThreeModel =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xC4\xA3\xD0\xCD";  // 透明标签_接口三_模型
inline constexpr const char* kEditInterfaceThreeModel =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xC4\xA3\xD0\xCD";  // 编辑框_接口三_模型
inline constexpr const char* kLabelInterfaceThreeTemperature =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xCE\xC2\xB6\xC8";  // 透明标签_接口三_温度
inline constexpr const char* kEditInterfaceThreeTemperature =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xCE\xC2\xB6\xC8";  // 编辑框_接口三_温度
inline constexpr const char* kLabelInterfaceThreePrompt =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xCC\xE1\xCA\xBE\xB4\xCA";  // 透明标签_接口三_提示词
inline constexpr const char* kEditInterfaceThreePrompt =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xCC\xE1\xCA\xBE\xB4\xCA";  // 编辑框_接口三_提示词
inline constexpr const char* kLabelInterfaceThreeSystemPrompt =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xCF\xB5\xCD\xB3\xCC\xE1\xCA\xBE\xB4\xCA";  // 透明标签_接口三_系统提示词
inline constexpr const char* kEditInterfaceThreeSystemPrompt =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xCF\xB5\xCD\xB3\xCC\xE1\xCA\xBE\xB4\xCA";  // 编辑框_接口三_系统提示词
// Further endpoints (one per line) and the proxy of interface three's requests.
inline constexpr const char* kLabelInterfaceThreeBackups =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xB1\xB8\xD3\xC3\xBD\xD3\xBF\xDA";  // 透明标签_接口三_备用接口
inline constexpr const char* kEditInterfaceThreeBackups =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xB1\xB8\xD3\xC3\xBD\xD3\xBF\xDA";  // 编辑框_接口三_备用接口
inline constexpr const char* kLabelInterfaceThreeProxy =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xB4\xFA\xC0\xED";  // 透明标签_接口三_代理
inline constexpr const char* kEditInterfaceThreeProxy =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xB4\xFA\xC0\xED";  // 编辑框_接口三_代理
inline constexpr const char* kLabelInterfaceThreeHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xCB\xB5\xC3\xF7";  // 透明标签_接口三_说明
// The steps before the article (a title, an outline) and the internal links of the articles.
inline constexpr const char* kLabelInterfaceThreeTitlePrompt =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xB1\xEA\xCC\xE2\xCC\xE1\xCA\xBE\xB4\xCA";  // 透明标签_接口三_标题提示词
inline constexpr const char* kEditInterfaceThreeTitlePrompt =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xB1\xEA\xCC\xE2\xCC\xE1\xCA\xBE\xB4\xCA";  // 编辑框_接口三_标题提示词
inline constexpr const char* kLabelInterfaceThreeOutlinePrompt =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xB4\xF3\xB8\xD9\xCC\xE1\xCA\xBE\xB4\xCA";  // 透明标签_接口三_大纲提示词
inline constexpr const char* kEditInterfaceThreeOutlinePrompt =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xB4\xF3\xB8\xD9\xCC\xE1\xCA\xBE\xB4\xCA";  // 编辑框_接口三_大纲提示词
inline constexpr const char* kLabelInternalLinks =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xC4\xDA\xC1\xB4";  // 透明标签_内链
inline constexpr const char* kEditInternalLinks =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xC4\xDA\xC1\xB4";  // 编辑框_内链
inline constexpr const char* kLabelInternalLinksPerArticle =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xC4\xDA\xC1\xB4_\xC3\xBF\xC6\xAA";  // 透明标签_内链_每篇
inline constexpr const char* kEditInternalLinksPerArticle =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xC4\xDA\xC1\xB4_\xC3\xBF\xC6\xAA";  // 编辑框_内链_每篇
inline constexpr const char* kLabelTemplatesHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xC4\xA3\xB0\xE5\xCB\xB5\xC3\xF7";  // 透明标签_模板说明
// Running many keywords at once, retrying, resuming.
inline constexpr const char* kLabelConcurrency =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB2\xA2\xB7\xA2\xCA\xFD";  // 透明标签_并发数
inline constexpr const char* kEditConcurrency = "\xB1\xE0\xBC\xAD\xBF\xF2_\xB2\xA2\xB7\xA2\xCA\xFD";  // 编辑框_并发数
inline constexpr const char* kLabelRetryCount =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xCA\xA7\xB0\xDC\xD6\xD8\xCA\xD4\xB4\xCE\xCA\xFD";  // 透明标签_失败重试次数
inline constexpr const char* kEditRetryCount =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xCA\xA7\xB0\xDC\xD6\xD8\xCA\xD4\xB4\xCE\xCA\xFD";  // 编辑框_失败重试次数
inline constexpr const char* kLabelConcurrencyHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB2\xA2\xB7\xA2\xCB\xB5\xC3\xF7";  // 透明标签_并发说明
inline constexpr const char* kButtonRequeueFailed =
    "\xB0\xB4\xC5\xA5_OpenAi_\xCA\xA7\xB0\xDC\xD6\xD8\xCA\xD4";  // 按钮_OpenAi_失败重试
inline constexpr const char* kCheckSkipExisting =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xCC\xF8\xB9\xFD\xD2\xD1\xC9\xFA\xB3\xC9";  // 选择框_跳过已生成
inline constexpr const char* kProgressRun =
    "\xBD\xF8\xB6\xC8\xCC\xF5_\xC8\xCE\xCE\xF1\xBD\xF8\xB6\xC8";  // 进度条_任务进度
// The page of the article checks: each edit box with its label, and what the checks do.
inline constexpr const char* kLabelChecksContinuations =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xD0\xF8\xD0\xB4\xB4\xCE\xCA\xFD";  // 透明标签_检查_续写次数
inline constexpr const char* kEditChecksContinuations =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBC\xEC\xB2\xE9_\xD0\xF8\xD0\xB4\xB4\xCE\xCA\xFD";  // 编辑框_检查_续写次数
inline constexpr const char* kLabelChecksMinCharacters =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xD7\xEE\xC9\xD9\xD7\xD6\xCA\xFD";  // 透明标签_检查_最少字数
inline constexpr const char* kEditChecksMinCharacters =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBC\xEC\xB2\xE9_\xD7\xEE\xC9\xD9\xD7\xD6\xCA\xFD";  // 编辑框_检查_最少字数
inline constexpr const char* kLabelChecksSimilarity =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xCF\xE0\xCB\xC6\xB6\xC8";  // 透明标签_检查_相似度
inline constexpr const char* kEditChecksSimilarity =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBC\xEC\xB2\xE9_\xCF\xE0\xCB\xC6\xB6\xC8";  // 编辑框_检查_相似度
inline constexpr const char* kLabelChecksBannedWords =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xCE\xA5\xBD\xFB\xB4\xCA";  // 透明标签_检查_违禁词
inline constexpr const char* kEditChecksBannedWords =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBC\xEC\xB2\xE9_\xCE\xA5\xBD\xFB\xB4\xCA";  // 编辑框_检查_违禁词
inline constexpr const char* kLabelChecksRefusalPhrases =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xBE\xDC\xB4\xF0\xB6\xCC\xD3\xEF";  // 透明标签_检查_拒答短语
inline constexpr const char* kEditChecksRefusalPhrases =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBC\xEC\xB2\xE9_\xBE\xDC\xB4\xF0\xB6\xCC\xD3\xEF";  // 编辑框_检查_拒答短语
inline constexpr const char* kLabelChecksHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBC\xEC\xB2\xE9_\xCB\xB5\xC3\xF7";  // 透明标签_检查_说明
// The page of publishing: the sites articles go to, when and how.
inline constexpr const char* kLabelPublishSites =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xD5\xBE\xB5\xE3";  // 透明标签_发布_站点
inline constexpr const char* kEditPublishSites =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xD5\xBE\xB5\xE3";  // 编辑框_发布_站点
inline constexpr const char* kCheckPublishOn =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xB7\xA2\xB2\xBC_\xBF\xAA\xC6\xF4";  // 选择框_发布_开启
inline constexpr const char* kCheckPublishEverySite =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xB7\xA2\xB2\xBC_\xC3\xBF\xD5\xBE\xB6\xBC\xB7\xA2";  // 选择框_发布_每站都发
inline constexpr const char* kLabelPublishStatus =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xD7\xB4\xCC\xAC";  // 透明标签_发布_状态
inline constexpr const char* kEditPublishStatus =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xD7\xB4\xCC\xAC";  // 编辑框_发布_状态
inline constexpr const char* kLabelPublishCategories =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xB7\xD6\xC0\xE0";  // 透明标签_发布_分类
inline constexpr const char* kEditPublishCategories =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xB7\xD6\xC0\xE0";  // 编辑框_发布_分类
inline constexpr const char* kLabelPublishTags =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xB1\xEA\xC7\xA9";  // 透明标签_发布_标签
inline constexpr const char* kEditPublishTags =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xB1\xEA\xC7\xA9";  // 编辑框_发布_标签
inline constexpr const char* kLabelPublishPerDay =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xC3\xBF\xCC\xEC\xC6\xAA\xCA\xFD";  // 透明标签_发布_每天篇数
inline constexpr const char* kEditPublishPerDay =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xC3\xBF\xCC\xEC\xC6\xAA\xCA\xFD";  // 编辑框_发布_每天篇数
inline constexpr const char* kLabelPublishHours =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xCA\xB1\xB6\xCE";  // 透明标签_发布_时段
inline constexpr const char* kEditPublishHours =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xA2\xB2\xBC_\xCA\xB1\xB6\xCE";  // 编辑框_发布_时段
inline constexpr const char* kButtonPublishGenerated =
    "\xB0\xB4\xC5\xA5_\xB7\xA2\xB2\xBC\xD2\xD1\xC9\xFA\xB3\xC9";  // 按钮_发布已生成
inline constexpr const char* kLabelPublishHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xA2\xB2\xBC_\xCB\xB5\xC3\xF7";  // 透明标签_发布_说明
// Cost: the cap at which a run takes no further keyword; interface three through the provider's
// batch interface, the size of its parts, and what becomes of the lines that failed or expired.
inline constexpr const char* kLabelCostCap =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xD1\xD3\xC3\xC9\xCF\xCF\xDE";  // 透明标签_费用上限
inline constexpr const char* kEditCostCap =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xB7\xD1\xD3\xC3\xC9\xCF\xCF\xDE";  // 编辑框_费用上限
inline constexpr const char* kLabelCostCapHint =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xB7\xD1\xD3\xC3\xC9\xCF\xCF\xDE\xCB\xB5\xC3\xF7";  // 透明标签_费用上限说明
inline constexpr const char* kCheckInterfaceThreeBatch =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xC5\xFA\xC1\xBF";  // 选择框_接口三_批量
inline constexpr const char* kLabelInterfaceThreeBatchMegabytes =
    "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9_\xBD\xD3\xBF\xDA\xC8\xFD_\xC5\xFA\xC1\xBF\xC9\xCF\xCF\xDEMB";  // 透明标签_接口三_批量上限MB
inline constexpr const char* kEditInterfaceThreeBatchMegabytes =
    "\xB1\xE0\xBC\xAD\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xC5\xFA\xC1\xBF\xC9\xCF\xCF\xDEMB";  // 编辑框_接口三_批量上限MB
inline constexpr const char* kCheckInterfaceThreeBatchFailedDirect =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xBD\xD3\xBF\xDA\xC8\xFD_\xC5\xFA\xC1\xBF\xCA\xA7\xB0\xDC\xD6\xB1\xBD\xD3\xC7\xEB\xC7\xF3";  // 选择框_接口三_批量失败直接请求
}  // namespace control

// Pages of the tab control kTabMain.
namespace page {
inline constexpr int kChatGpt = 0;
inline constexpr int kWenxin = 1;
inline constexpr int kUsage = 2;
inline constexpr int kBusiness = 3;
inline constexpr int kUpdate = 4;
inline constexpr int kInterfaceThree = 5;
inline constexpr int kChecks = 6;
inline constexpr int kPublishing = 7;
inline constexpr int kTemplates = 8;  // the steps before the article, the internal links
}  // namespace page

}  // namespace qj
