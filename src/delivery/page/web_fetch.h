#pragma once
// Fetching what a page's message carries (its pictures and stylesheets) as a
// careful browser would: through the user's proxy, with no cookies and no
// Windows sign-in on any server, http and https only, and never from a
// network nearer than the page's own (a public page may not make this
// computer or its private network answer). Redirects are followed by hand,
// five at most, each checked by the same rules. With no proxy, plain http
// connects to the very addresses that were checked, so that a name cannot
// answer one way to the check and another to the connection.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "delivery/page/network_reach.h"
#include "delivery/sockets/socket_transport.h"
#include "delivery/page/web_address.h"

namespace kt {

class WebFetch {
public:
    // For the page at `pageAddress`, whose reach is looked up at the first
    // fetch; names are looked up with `lookup`.
    explicit WebFetch(std::optional<WebAddress> pageAddress, AddressLookup lookup = systemLookup);
    ~WebFetch();
    WebFetch(const WebFetch&) = delete;
    WebFetch& operator=(const WebFetch&) = delete;

    // The body of a successful answer from `address`, within `time` and at
    // most `limit` bytes; none for anything else. Safe on several threads at once.
    std::optional<std::string> get(const std::string& address, std::size_t limit,
                                   std::chrono::milliseconds time) const;

private:
    struct Session;
    std::unique_ptr<Session> session_;
};

}  // namespace kt
