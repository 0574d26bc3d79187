-- STUN and relay information for calls ("ombrix:relayinfo") for tests.
--
--   get without "to" (or to the host): the configured STUN servers and relay hosts, and a
--     fresh relay token
--   set: not-allowed (clients only read it)
--   with ombrix_relayinfo_push_after = N (seconds), every client that binds a resource is
--     pushed a new token N seconds later, as the service does when a token expires
--
-- Configuration: ombrix_stun_servers = { { host = "...", udp = "3478" }, ... },
-- ombrix_relay_hosts = { "...", ... }.

local st = require "util.stanza";
local new_id = require "util.id".medium;

local xmlns_relayinfo = "ombrix:relayinfo";
local stun_servers = module:get_option("ombrix_stun_servers", {});
local relay_hosts = module:get_option("ombrix_relay_hosts", {});
local push_after = module:get_option_number("ombrix_relayinfo_push_after", 0);

module:add_feature(xmlns_relayinfo);

local function relayinfo_query()
	local query = st.stanza("query", { xmlns = xmlns_relayinfo });
	query:tag("stun");
	for _, server in ipairs(stun_servers) do
		query:tag("server", { host = server.host, udp = server.udp }):up();
	end
	query:up():tag("relay"):tag("token"):text(new_id()):up();
	for _, host in ipairs(relay_hosts) do
		query:tag("server", { host = host, udp = "3480", tcp = "3481", tcpssl = "443" }):up();
	end
	return query:up();
end

local function answer(event)
	event.origin.send(st.reply(event.stanza):add_child(relayinfo_query()));
	return true;
end

local function refuse(event)
	event.origin.send(st.error_reply(event.stanza, "cancel", "not-allowed"));
	return true;
end

module:hook("iq-get/self/ombrix:relayinfo:query", answer);
module:hook("iq-get/host/ombrix:relayinfo:query", answer);
module:hook("iq-set/self/ombrix:relayinfo:query", refuse);
module:hook("iq-set/host/ombrix:relayinfo:query", refuse);

if push_after > 0 then
	module:hook("resource-bind", function(event)
		local session = event.session;
		module:add_timer(push_after, function()
			if not session.full_jid or session.destroyed then return; end
			session.send(st.iq({ type = "set", from = module.host, to = session.full_jid, id = new_id() })
				:add_child(relayinfo_query()));
		end);
	end);
end
