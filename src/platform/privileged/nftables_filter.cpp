#include "platform/privileged/nftables_filter.h"

#include <dlfcn.h>
#include <linux/capability.h>
#include <nftables/libnftables.h>

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "platform/connection_killer.h"
#include "platform/privileged/capabilities.h"
#include "platform/privileged/nft_table_holder.h"

namespace tw::platform {
namespace {

constexpr const char* kFilterFailed = "The packet filter could not be installed.";

// libnftables, with the libraries it brings (libnftnl, libgmp, libjansson,
// libxtables), is loaded when a filter is first installed, not at start: a
// tarnixd that never filters keeps none of it in memory. By the soname of
// Debian's libnftables1, found as the dynamic linker finds a linked library
// (a process with file capabilities ignores LD_LIBRARY_PATH then too). Never
// unloaded: contexts live as long as the filters.
constexpr const char* kNftablesSoname = "libnftables.so.1";

struct NftLibrary {
  decltype(&::nft_ctx_new) ctx_new = nullptr;
  decltype(&::nft_ctx_free) ctx_free = nullptr;
  decltype(&::nft_ctx_buffer_output) buffer_output = nullptr;
  decltype(&::nft_ctx_buffer_error) buffer_error = nullptr;
  decltype(&::nft_ctx_get_output_buffer) output_buffer = nullptr;
  decltype(&::nft_ctx_get_error_buffer) error_buffer = nullptr;
  decltype(&::nft_ctx_output_set_flags) output_set_flags = nullptr;
  decltype(&::nft_run_cmd_from_buffer) run_cmd = nullptr;
  std::string error;  // why it could not be loaded; "" when loaded
};

const NftLibrary& nft_library() {
  static const NftLibrary library = [] {
    NftLibrary l;
    void* handle = ::dlopen(kNftablesSoname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      l.error = why ? why : kNftablesSoname;
      return l;
    }
    bool all = true;
    const auto take = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, name));
      all = all && fn != nullptr;
    };
    take(l.ctx_new, "nft_ctx_new");
    take(l.ctx_free, "nft_ctx_free");
    take(l.buffer_output, "nft_ctx_buffer_output");
    take(l.buffer_error, "nft_ctx_buffer_error");
    take(l.output_buffer, "nft_ctx_get_output_buffer");
    take(l.error_buffer, "nft_ctx_get_error_buffer");
    take(l.output_set_flags, "nft_ctx_output_set_flags");
    take(l.run_cmd, "nft_run_cmd_from_buffer");
    if (!all) {
      ::dlclose(handle);
      l = NftLibrary{};
      l.error = std::string(kNftablesSoname) + " lacks a function it should have";
    }
    return l;
  }();
  return library;
}

Error no_library_error() {
  return Error{kFilterFailed, "libnftables could not be loaded: " + nft_library().error, ENOSYS};
}

// libnftables reports errors as text only ("Error: Could not process rule:
// Operation not permitted" and the offending command); its errno is that
// text's.
Error nft_error(const char* what, std::string_view text) {
  std::string detail(text);
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
  // The offending command and a caret line follow the first line: keep the
  // first line only, the batch can be thousands of lines.
  if (const auto nl = detail.find('\n'); nl != std::string::npos) detail.resize(nl);
  int err = EIO;
  if (detail.find(std::strerror(EPERM)) != std::string::npos) err = EPERM;
  else if (detail.find(std::strerror(ENOENT)) != std::string::npos) err = ENOENT;
  else if (detail.find(std::strerror(EOPNOTSUPP)) != std::string::npos) err = EOPNOTSUPP;
  return Error{err == EPERM ? kNeedsAdministratorHeadline : kFilterFailed, std::string(what) + ": " + detail, err};
}

}  // namespace

void NftablesPacketFilter::ContextFree::operator()(nft_ctx* c) const { nft_library().ctx_free(c); }

NftablesPacketFilter::NftablesPacketFilter(NftablesTexts texts) : texts_(texts) {}

nft_ctx* NftablesPacketFilter::context() {
  if (ctx_ || context_failed_) return ctx_.get();
  const NftLibrary& nft = nft_library();
  if (nft.error.empty()) ctx_.reset(nft.ctx_new(NFT_CTX_DEFAULT));
  if (ctx_) {
    nft.buffer_output(ctx_.get());
    nft.buffer_error(ctx_.get());
  }
  context_failed_ = !ctx_;
  return ctx_.get();
}

NftablesPacketFilter::~NftablesPacketFilter() {
  // Closing the context's socket removes the owned table anyway; deleting it
  // first says so explicitly and costs one batch.
  if (installed_) (void)remove();
}

// Asked only when a filter is to be installed: only then is the library
// loaded.
bool NftablesPacketFilter::is_supported() {
  return has_effective_capability(CAP_NET_ADMIN) && context() != nullptr;
}

Status NftablesPacketFilter::run(const std::string& commands, const char* what) {
  if (!context()) {
    if (!nft_library().error.empty()) return no_library_error();
    return Error{kFilterFailed, "libnftables could not make a context", ENOMEM};
  }
  if (!has_effective_capability(CAP_NET_ADMIN))
    return Error{kNeedsAdministratorHeadline, std::string(what) + " needs CAP_NET_ADMIN", EPERM};
  const NftLibrary& nft = nft_library();
  if (nft.run_cmd(ctx_.get(), commands.c_str()) != 0) {
    Error e = nft_error(what, nft.error_buffer(ctx_.get()));
    // With CAP_NET_ADMIN, EPERM means that another process owns the table:
    // a second instance must hear that, not that it lacks privileges.
    if (e.errno_value == EPERM)
      if (auto held = held_elsewhere_error("tarnwatch", what)) return *held;
    return e;
  }
  return {};
}

Status NftablesPacketFilter::apply(const FilterSet& set) {
  if (set.drops.size() > kMaxFilterDrops || set.local_addresses.size() > kMaxFilterLocalAddresses ||
      set.drops6.size() > kMaxFilterDrops || set.local_ipv6.size() > kMaxFilterLocalAddresses)
    return Error{kFilterFailed, "too many filters or local addresses", E2BIG};
  if (!texts_.apply) return Error{kFilterFailed, "no ruleset builder", EINVAL};
  Status s = run(texts_.apply(set), set.ipv6 ? "installing the table inet tarnwatch" : "installing the table ip tarnwatch");
  if (s) installed_ = true;
  return s;
}

Status NftablesPacketFilter::remove() {
  if (!installed_) return {};
  if (!texts_.remove) return Error{kFilterFailed, "no ruleset builder", EINVAL};
  Status s = run(texts_.remove(), "deleting the table tarnwatch");
  // A table that is gone already is removed.
  if (s || s.error().errno_value == ENOENT) {
    installed_ = false;
    return {};
  }
  return s;
}

Result<std::string> nft_command_output(std::string_view command) {
  const NftLibrary& nft = nft_library();
  if (!nft.error.empty()) return no_library_error();
  std::unique_ptr<nft_ctx, void (*)(nft_ctx*)> ctx(nft.ctx_new(NFT_CTX_DEFAULT), nft.ctx_free);
  if (!ctx) return Error{kFilterFailed, "libnftables could not make a context", ENOMEM};
  nft.output_set_flags(ctx.get(), NFT_CTX_OUTPUT_NUMERIC_SYMBOL);
  nft.buffer_output(ctx.get());
  nft.buffer_error(ctx.get());
  const std::string cmd(command);
  if (nft.run_cmd(ctx.get(), cmd.c_str()) != 0) return nft_error(cmd.c_str(), nft.error_buffer(ctx.get()));
  return std::string(nft.output_buffer(ctx.get()));
}

}  // namespace tw::platform
