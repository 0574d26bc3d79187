-- Token login ("X-OMBRIX-TOKEN") with the tokens of our test account service
-- (tests/servers/accountservice.py --tokens FILE).
--
-- The SASL payload is a NUL byte, the account as the user typed it (node@domain), a NUL byte
-- and a token. It is accepted when the account is at this host and the service issued the
-- token for "mail" to that very account; the account needs no password on this server. The
-- issued tokens are read from the file named by ombrix_token_file at every attempt (lines
-- "TOKEN SERVICE EMAIL"), so a test revokes them by emptying the file.
--
-- Offered next to the host's own mechanisms, over an encrypted stream only. Every attempt is
-- logged at info level as "X-OMBRIX-TOKEN login of ACCOUNT accepted" or "... refused".
local sasl = require "util.sasl";
local usermanager = require "core.usermanager";
local jid_util = require "util.jid";
local nodeprep = require "util.encodings".stringprep.nodeprep;

local mechanism_name = "X-OMBRIX-TOKEN";
local xmlns_sasl = "urn:ietf:params:xml:ns:xmpp-sasl";
local token_file = module:get_option_string("ombrix_token_file");
if not token_file then
	module:log("error", "ombrix_token_file is not set: every token login will be refused");
end

-- The account the token was issued to for the service "mail", or nil.
local function issued_to(token)
	if not token_file then return nil; end
	local file = io.open(token_file, "r");
	if not file then return nil; end
	local found;
	for line in file:lines() do
		local issued, service, email = line:match("^(%S+) (%S+) (%S+)$");
		if issued == token and service == "mail" then found = email; end
	end
	file:close();
	return found;
end

-- Registered with a backend no provider has: this module offers it where it is loaded.
sasl.registerMechanism(mechanism_name, { "ombrix_token" }, function(self, message)
	if not message then return "failure", "malformed-request"; end
	local _, account, token = message:match("^([^%z]*)%z([^%z]+)%z([^%z]+)$");
	if not account then return "failure", "malformed-request"; end
	local node, host = jid_util.split(account);
	node = node and nodeprep(node);
	if not node or node == "" or host ~= self.realm or issued_to(token) ~= account then
		module:log("info", "%s login of %s refused", mechanism_name, account);
		return "failure", "not-authorized", "Token refused";
	end
	module:log("info", "%s login of %s accepted", mechanism_name, account);
	self.username = node;
	return "success";
end);

local function allow(handler)
	-- The handler's mechanism set is its profile's too: a clone after a failure keeps it.
	handler.mechs[mechanism_name] = true;
end

-- Offer it after mod_saslauth has listed the host's mechanisms (none on a clear stream).
module:hook("stream-features", function(event)
	local origin = event.origin;
	if origin.type ~= "c2s_unauthed" or not origin.sasl_handler then return; end
	local mechanisms = event.features:get_child("mechanisms", xmlns_sasl);
	if not mechanisms then return; end
	allow(origin.sasl_handler);
	mechanisms:tag("mechanism"):text(mechanism_name):up();
end, -10);

-- Before mod_saslauth takes the <auth/>: a handler that knows the mechanism.
module:hook("stanza/" .. xmlns_sasl .. ":auth", function(event)
	local session = event.origin;
	if session.type ~= "c2s_unauthed" or event.stanza.attr.mechanism ~= mechanism_name then
		return;
	end
	if not session.sasl_handler or session.sasl_handler.selected then
		session.sasl_handler = usermanager.get_sasl_handler(module.host, session);
	end
	allow(session.sasl_handler);
end, 10);
