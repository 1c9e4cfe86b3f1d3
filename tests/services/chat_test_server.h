#pragma once

// Replies of a chat-completion service, written byte for byte to a RawServer socket.

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "local_servers.h"

namespace qj::testing {

// One streamed chunk carrying a piece of text (UTF-8).
inline std::string SseChunk(const std::string& utf8Piece) {
    return "data: {\"object\":\"chat.completion.chunk\",\"choices\":[{\"index\":0,\"delta\":{\"content\":\"" +
           utf8Piece + "\"},\"finish_reason\":null}]}\n\n";
}

inline std::string SseUsage(int prompt, int completion) {
    return "data: {\"choices\":[],\"usage\":{\"prompt_tokens\":" + std::to_string(prompt) +
           ",\"completion_tokens\":" + std::to_string(completion) +
           ",\"total_tokens\":" + std::to_string(prompt + completion) + "}}\n\n";
}

inline const std::string kSseDone = "data: [DONE]\n\n";

// A complete response with a Content-Length.
inline std::string HttpReply(int status, const std::string& contentType, const std::string& body,
                             const std::string& extraHeaders = "") {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "Connection: close\r\n\r\n" +
           body;
}

// A chunked event stream whose pieces go out as separate chunks, a pause between them so that
// each arrives on its own.
inline void SendChunkedStream(int socket, const std::vector<std::string>& pieces, bool finish = true) {
    test::RawServer::Send(socket,
                          "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (const std::string& piece : pieces) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        test::RawServer::Send(socket, size + piece + "\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (finish) {
        test::RawServer::Send(socket, "0\r\n\r\n");
    }
}

}  // namespace qj::testing
