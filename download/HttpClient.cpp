#include "HttpClient.h"

struct HttpClient::Impl {};

HttpClient::HttpClient(std::chrono::milliseconds) : impl_(std::make_unique<Impl>()) {}
HttpClient::~HttpClient() = default;
void HttpClient::setCaFile(const QString&) {}
void HttpClient::PrepararTls() {}
QString HttpClient::Get(const QString&, std::uint64_t) { return {}; }
void HttpClient::Get(const QString&, platform::File&) {}
