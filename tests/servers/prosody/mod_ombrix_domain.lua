-- Domain lookup ("ombrix:domain") for tests: may the user reach the users of a domain over
-- XMPP?
--
--   get to the own bare address with <domain-lookup dom:domain="D"/> (the attribute in the
--     ombrix:domain namespace): <domain-result xmpp-reachable="true|false"/>; reachable are
--     the domains this server hosts and those listed in ombrix_reachable_domains
--   no domain attribute: bad-request; a domain that is no valid domain name: jid-malformed
--   set: not-allowed

local st = require "util.stanza";
local nameprep = require "util.encodings".stringprep.nameprep;
local set = require "util.set";

local xmlns_domain = "ombrix:domain";
local reachable = set.new(module:get_option_array("ombrix_reachable_domains", {}));

module:add_feature(xmlns_domain);

module:hook("iq-get/self/ombrix:domain:domain-lookup", function(event)
	local origin, stanza = event.origin, event.stanza;
	local domain = stanza.tags[1].attr[xmlns_domain .. "\1domain"];
	if not domain or domain == "" then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "no domain given"));
		return true;
	end
	local prepped = nameprep(domain);
	if not prepped or prepped:find("[@/%s]") then
		origin.send(st.error_reply(stanza, "modify", "jid-malformed"));
		return true;
	end
	local found = prosody.hosts[prepped] ~= nil or reachable:contains(prepped);
	origin.send(st.reply(stanza):tag("domain-result", {
		xmlns = xmlns_domain,
		["xmpp-reachable"] = found and "true" or "false",
	}));
	return true;
end);

module:hook("iq-set/self/ombrix:domain:domain-lookup", function(event)
	event.origin.send(st.error_reply(event.stanza, "cancel", "not-allowed"));
	return true;
end);
