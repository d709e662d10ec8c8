// The requests of the http module in a build without libcurl: every URL
// gets the same reason.
#include "http.h"


namespace {
HTTP_result unsupported() { return {HTTP_code::unsupported, "no HTTP support: built without libcurl", -1}; }
}  // namespace

struct HTTP_session::Impl {
  HTTP_options options;
};

HTTP_session::HTTP_session(const HTTP_options& options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}
HTTP_session::~HTTP_session() = default;
const HTTP_options& HTTP_session::options() const { return impl_->options; }

struct HTTP_stream::Impl {};
HTTP_stream::HTTP_stream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HTTP_stream::~HTTP_stream() = default;
FILE* HTTP_stream::file() const { return nullptr; }
const HTTP_result& HTTP_stream::result() const {
  static const HTTP_result none = unsupported();
  return none;
}

bool HTTP_supported() { return false; }

HTTP_result HTTP_size(HTTP_session&, const std::string&) { return unsupported(); }

HTTP_result HTTP_get_ranges(HTTP_session&, const std::string&, const std::vector<HTTP_range>&,
                            const HTTP_bytes_fn&) {
  return unsupported();
}

HTTP_result HTTP_open_stream(HTTP_session&, const std::string&, long, std::unique_ptr<HTTP_stream>& stream) {
  stream.reset();
  return unsupported();
}

