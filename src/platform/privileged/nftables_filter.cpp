#include "platform/privileged/nftables_filter.h"

#include <linux/capability.h>
#include <nftables/libnftables.h>

#include <cerrno>
#include <cstring>

#include "platform/connection_killer.h"
#include "platform/privileged/capabilities.h"
#include "platform/privileged/nft_table_holder.h"

namespace tw::platform {
namespace {

constexpr const char* kFilterFailed = "The packet filter could not be installed.";

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

void NftablesPacketFilter::ContextFree::operator()(nft_ctx* c) const { nft_ctx_free(c); }

NftablesPacketFilter::NftablesPacketFilter(NftablesTexts texts)
    : texts_(texts), ctx_(nft_ctx_new(NFT_CTX_DEFAULT)) {
  if (ctx_) {
    nft_ctx_buffer_output(ctx_.get());
    nft_ctx_buffer_error(ctx_.get());
  }
}

NftablesPacketFilter::~NftablesPacketFilter() {
  // Closing the context's socket removes the owned table anyway; deleting it
  // first says so explicitly and costs one batch.
  if (installed_) (void)remove();
}

bool NftablesPacketFilter::is_supported() { return ctx_ && has_effective_capability(CAP_NET_ADMIN); }

Status NftablesPacketFilter::run(const std::string& commands, const char* what) {
  if (!ctx_) return Error{kFilterFailed, "libnftables could not make a context", ENOMEM};
  if (!has_effective_capability(CAP_NET_ADMIN))
    return Error{kNeedsAdministratorHeadline, std::string(what) + " needs CAP_NET_ADMIN", EPERM};
  if (nft_run_cmd_from_buffer(ctx_.get(), commands.c_str()) != 0) {
    Error e = nft_error(what, nft_ctx_get_error_buffer(ctx_.get()));
    // With CAP_NET_ADMIN, EPERM means that another process owns the table:
    // a second instance must hear that, not that it lacks privileges.
    if (e.errno_value == EPERM)
      if (auto held = held_elsewhere_error("tarnwatch", what)) return *held;
    return e;
  }
  return {};
}

Status NftablesPacketFilter::apply(const FilterSet& set) {
  if (set.drops.size() > kMaxFilterDrops || set.local_addresses.size() > kMaxFilterLocalAddresses)
    return Error{kFilterFailed, "too many filters or local addresses", E2BIG};
  if (!texts_.apply) return Error{kFilterFailed, "no ruleset builder", EINVAL};
  Status s = run(texts_.apply(set), "installing the table ip tarnwatch");
  if (s) installed_ = true;
  return s;
}

Status NftablesPacketFilter::remove() {
  if (!installed_) return {};
  if (!texts_.remove) return Error{kFilterFailed, "no ruleset builder", EINVAL};
  Status s = run(texts_.remove(), "deleting the table ip tarnwatch");
  // A table that is gone already is removed.
  if (s || s.error().errno_value == ENOENT) {
    installed_ = false;
    return {};
  }
  return s;
}

Result<std::string> nft_command_output(std::string_view command) {
  std::unique_ptr<nft_ctx, void (*)(nft_ctx*)> ctx(nft_ctx_new(NFT_CTX_DEFAULT), nft_ctx_free);
  if (!ctx) return Error{kFilterFailed, "libnftables could not make a context", ENOMEM};
  nft_ctx_output_set_flags(ctx.get(), NFT_CTX_OUTPUT_NUMERIC_SYMBOL);
  nft_ctx_buffer_output(ctx.get());
  nft_ctx_buffer_error(ctx.get());
  const std::string cmd(command);
  if (nft_run_cmd_from_buffer(ctx.get(), cmd.c_str()) != 0)
    return nft_error(cmd.c_str(), nft_ctx_get_error_buffer(ctx.get()));
  return std::string(nft_ctx_get_output_buffer(ctx.get()));
}

}  // namespace tw::platform
