#pragma once

namespace qj {

// Tokens a service says it counted for one request.
struct TokenUsage {
    long long promptTokens = 0;
    long long completionTokens = 0;
    long long totalTokens = 0;

    TokenUsage& operator+=(const TokenUsage& other) {
        promptTokens += other.promptTokens;
        completionTokens += other.completionTokens;
        totalTokens += other.totalTokens;
        return *this;
    }
};

}  // namespace qj
