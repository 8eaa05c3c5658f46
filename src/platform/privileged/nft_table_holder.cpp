#include "platform/privileged/nft_table_holder.h"

#include <dirent.h>
#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace tw::platform {
namespace {

struct MnlClose {
  void operator()(mnl_socket* s) const { mnl_socket_close(s); }
};

struct DumpState {
  std::string_view name;
  std::optional<std::uint32_t> owner;
};

int table_attribute(const nlattr* attr, void* data) {
  auto* tb = static_cast<const nlattr**>(data);
  const int type = mnl_attr_get_type(attr);
  if (mnl_attr_type_valid(attr, NFTA_TABLE_MAX) < 0) return MNL_CB_OK;
  tb[type] = attr;
  return MNL_CB_OK;
}

int table_message(const nlmsghdr* nlh, void* data) {
  auto* state = static_cast<DumpState*>(data);
  const nlattr* tb[NFTA_TABLE_MAX + 1] = {};
  if (mnl_attr_parse(nlh, sizeof(nfgenmsg), table_attribute, tb) < 0) return MNL_CB_OK;
  if (!tb[NFTA_TABLE_NAME] || !tb[NFTA_TABLE_FLAGS] || !tb[NFTA_TABLE_OWNER]) return MNL_CB_OK;
  if (mnl_attr_validate(tb[NFTA_TABLE_NAME], MNL_TYPE_NUL_STRING) < 0 ||
      mnl_attr_validate(tb[NFTA_TABLE_FLAGS], MNL_TYPE_U32) < 0 ||
      mnl_attr_validate(tb[NFTA_TABLE_OWNER], MNL_TYPE_U32) < 0)
    return MNL_CB_OK;
  if (mnl_attr_get_str(tb[NFTA_TABLE_NAME]) != state->name) return MNL_CB_OK;
  if ((be32toh(mnl_attr_get_u32(tb[NFTA_TABLE_FLAGS])) & NFT_TABLE_F_OWNER) == 0) return MNL_CB_OK;
  state->owner = be32toh(mnl_attr_get_u32(tb[NFTA_TABLE_OWNER]));
  return MNL_CB_OK;
}

// The owner port id of the owned table `name` of any family.
std::optional<std::uint32_t> table_owner(std::string_view name) {
  std::unique_ptr<mnl_socket, MnlClose> nl(mnl_socket_open(NETLINK_NETFILTER));
  if (!nl || mnl_socket_bind(nl.get(), 0, MNL_SOCKET_AUTOPID) < 0) return std::nullopt;
  std::vector<char> buf(MNL_SOCKET_BUFFER_SIZE);
  nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
  nlh->nlmsg_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETTABLE;
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  const unsigned seq = 1;
  nlh->nlmsg_seq = seq;
  auto* nfg = static_cast<nfgenmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(nfgenmsg)));
  nfg->nfgen_family = NFPROTO_UNSPEC;
  nfg->version = NFNETLINK_V0;
  nfg->res_id = 0;
  if (mnl_socket_sendto(nl.get(), nlh, nlh->nlmsg_len) < 0) return std::nullopt;
  const unsigned portid = mnl_socket_get_portid(nl.get());
  DumpState state{name, std::nullopt};
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(nl.get(), buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    const int r = mnl_cb_run(buf.data(), static_cast<std::size_t>(n), seq, portid, table_message, &state);
    if (r <= MNL_CB_STOP) break;
  }
  return state.owner;
}

// The inode of the NETLINK_NETFILTER socket with port id `portid`, from the
// calling thread's /proc/thread-self/net/netlink ("sk Eth Pid Groups Rmem
// Wmem Dump Locks Drops Inode"): /proc/net is the network namespace of the
// process's first thread, which need not be the one asking.
std::optional<unsigned long> netlink_inode(const std::string& proc_root, std::uint32_t portid) {
  std::ifstream in(proc_root + "/thread-self/net/netlink");
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string sk, groups;
    int eth = -1;
    unsigned long pid = 0, inode = 0;
    long rmem = 0, wmem = 0, dump = 0, locks = 0, drops = 0;
    if (!(f >> sk >> eth >> pid >> groups >> rmem >> wmem >> dump >> locks >> drops >> inode)) continue;
    if (eth == NETLINK_NETFILTER && pid == portid && inode != 0) return inode;
  }
  return std::nullopt;
}

bool all_digits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// The process holding socket `inode`: a walk of every /proc/PID/fd.
int socket_holder(const std::string& proc_root, unsigned long inode) {
  const std::string want = "socket:[" + std::to_string(inode) + "]";
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir(proc_root.c_str()), ::closedir);
  if (!proc) return 0;
  while (const dirent* p = ::readdir(proc.get())) {
    if (!all_digits(p->d_name)) continue;
    const std::string fd_dir = proc_root + "/" + p->d_name + "/fd";
    std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir(fd_dir.c_str()), ::closedir);
    if (!fds) continue;
    while (const dirent* f = ::readdir(fds.get())) {
      if (!all_digits(f->d_name)) continue;
      char target[64];
      const ssize_t n = ::readlink((fd_dir + "/" + f->d_name).c_str(), target, sizeof target);
      if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == want) return std::atoi(p->d_name);
    }
  }
  return 0;
}

std::string comm_of(const std::string& proc_root, int pid) {
  std::ifstream in(proc_root + "/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The parent from /proc/PID/stat: "PID (COMM) STATE PPID ...", where COMM may
// hold blanks and parentheses, so the fields are counted after the last ')'.
int parent_of(const std::string& proc_root, int pid) {
  std::ifstream in(proc_root + "/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream f(stat.substr(close + 1));
  std::string state;
  int ppid = 0;
  f >> state >> ppid;
  return ppid;
}

}  // namespace

std::optional<TableHolder> nft_table_holder(std::string_view name, const std::string& proc_root) {
  const auto owner = table_owner(name);
  if (!owner) return std::nullopt;
  const auto inode = netlink_inode(proc_root, *owner);
  if (!inode) return std::nullopt;
  TableHolder h;
  h.pid = socket_holder(proc_root, *inode);
  if (h.pid == 0) return std::nullopt;
  h.name = comm_of(proc_root, h.pid);
  h.instance_pid = h.pid;
  // The helper holds the table for the desktop program that started it.
  if (h.name == "tarnix-helper")
    if (const int parent = parent_of(proc_root, h.pid); parent > 1) h.instance_pid = parent;
  return h;
}

std::optional<Error> held_elsewhere_error(std::string_view name, const std::string& what) {
  const auto holder = nft_table_holder(name);
  if (!holder) return std::nullopt;
  return Error{"Another Tarnwatch instance (pid " + std::to_string(holder->instance_pid) + ") filters already.",
               what + ": the table " + std::string(name) + " belongs to " + holder->name + " (pid " +
                   std::to_string(holder->pid) + "), and only its owner may change it",
               EBUSY};
}

}  // namespace tw::platform
