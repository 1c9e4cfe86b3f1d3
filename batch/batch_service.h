#pragma once

#include <atomic>
#include <ctime>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// Where the files and batches of a chat-completion service live, from its chat URL.
struct BatchEndpoints {
    Text base;      // ".../v1": the chat URL without "/chat/completions"
    Text query;     // "?..." of the chat URL, kept on every URL; empty when none
    Text chatPath;  // "/v1/chat/completions": the last part of the base and the chat path, which is
                    // how the batch and each of its lines name the endpoint

    // base + tail, with the query and `extraQuery` ("limit=100") joined behind it.
    Text Url(std::string_view tail, std::string_view extraQuery = {}) const;
};
BatchEndpoints BatchEndpointsOf(const Text& chatUrl);

// How the requests reach the service: the same key and proxy as direct requests.
struct BatchConnection {
    BatchEndpoints endpoints;
    Text key;
    Text proxyHostPort;  // empty: direct
    Text proxyUser;
    Text proxyPassword;
    Text proxyShown;  // as the log names the proxy
};

// Why a request to the batch interface failed.
struct BatchFailure {
    int status = 0;          // 0 when there was no reply
    Text detail;             // for the log after 错误信息： (GBK): the service's words and the status
    bool transient = false;  // no reply, a time-out, 408, 429 or 5xx: a later try may work
};

template <class T>
struct BatchAnswer {
    std::optional<T> value;
    BatchFailure failure;  // when there is no value

    bool ok() const { return value.has_value(); }
};

struct BatchRequestCounts {
    long long total = 0;
    long long completed = 0;
    long long failed = 0;
};

// A batch as the service describes it.
struct BatchInfo {
    Text id;
    Text status;  // validating, in_progress, finalizing, completed, failed, expired, cancelling, cancelled
    Text inputFileId;
    Text outputFileId;  // empty while there is none
    Text errorFileId;
    BatchRequestCounts counts;
    std::map<Text, Text> metadata;  // GBK
    long long createdAt = 0;        // seconds since 1970, as the service gives it
    Text errors;                    // what the service says went wrong with the batch as a whole (GBK)

    // Whether the batch will not change any more: completed, failed, expired or cancelled.
    bool Ended() const;
};

struct BatchPage {
    std::vector<BatchInfo> batches;  // newest first, as the service lists them
    bool hasMore = false;
};

// The requests of the files and batches interface (`POST {base}/files`, `POST {base}/batches`,
// `GET {base}/batches/{id}`, `GET {base}/batches`, `POST {base}/batches/{id}/cancel`,
// `GET {base}/files/{id}/content`). Each call is one synchronous exchange; `cancel` (when set)
// abandons it, except a cancel request, which is made after a stop. Safe to share between threads.
class BatchService {
public:
    explicit BatchService(BatchConnection connection, const std::atomic<bool>* cancel = nullptr)
        : connection_(std::move(connection)), cancel_(cancel) {}

    // Uploads one input file (multipart, purpose "batch"); the file's id.
    BatchAnswer<Text> UploadFile(const Text& fileName, const Bytes& jsonl);
    // Creates a batch of an uploaded file for the chat endpoint, to be done within 24 hours.
    BatchAnswer<BatchInfo> CreateBatch(const Text& inputFileId, const std::map<Text, Text>& metadata);
    BatchAnswer<BatchInfo> GetBatch(const Text& id);
    // One page of the account's batches, newest first, from behind `after` (an id; empty: the start).
    BatchAnswer<BatchPage> ListBatches(const Text& after, int limit = 100);
    BatchAnswer<BatchInfo> CancelBatch(const Text& id);
    BatchAnswer<Bytes> FileContent(const Text& fileId);

    const BatchConnection& connection() const { return connection_; }

    // How long a request may go without a byte moved, and take to connect: 120 s. Tests shorten it.
    static void SetTimeoutSeconds(int seconds);

private:
    struct Exchange {
        int status = 0;
        Bytes body;
        Text transferError;
    };
    // `cancellable`: the stop flag abandons the exchange (not so for a request made after a stop).
    Exchange Send(int method, const Text& url, const Bytes& body, const Text& contentType, bool cancellable = true);
    BatchFailure FailureOf(const Exchange& exchange, const Text& url) const;
    BatchAnswer<BatchInfo> BatchReply(const Exchange& exchange, const Text& url) const;

    BatchConnection connection_;
    const std::atomic<bool>* cancel_;
};

}  // namespace qj
