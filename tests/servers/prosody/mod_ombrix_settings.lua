-- The user's server-side settings ("ombrix:setting") for tests: read, written and pushed to
-- the account's other clients as the service does.
--
--   get to the own bare address: <usersetting/> with every stored setting
--   set to the own bare address: stores the settings given, answers an empty result and pushes
--     the new values to the account's other resources; a value other than "true"/"false" or an
--     unknown setting is bad-request, and nothing is stored
--   either addressed to somebody else's bare address: forbidden

local st = require "util.stanza";
local jid_bare = require "util.jid".bare;

local xmlns_setting = "ombrix:setting";
local known = {
	autoacceptsuggestions = true,
	autoacceptrequests = true,
	mailnotifications = true,
	archivingenabled = true,
};
-- What an account that never wrote its settings reads.
local defaults = { autoacceptrequests = "false", mailnotifications = "true" };

local store = module:open_store("ombrix_settings");

module:add_feature(xmlns_setting);

local function load(username)
	local stored = store:get(username) or {};
	local settings = {};
	for name, value in pairs(defaults) do settings[name] = value; end
	for name, value in pairs(stored) do settings[name] = value; end
	return settings;
end

local function settings_element(settings)
	local element = st.stanza("usersetting", { xmlns = xmlns_setting });
	local names = {};
	for name in pairs(settings) do names[#names + 1] = name; end
	table.sort(names);
	for _, name in ipairs(names) do element:tag(name, { value = settings[name] }):up(); end
	return element;
end

local function push(origin, settings)
	local bare = jid_bare(origin.full_jid);
	local account = prosody.bare_sessions[bare];
	if not account then return; end
	for _, session in pairs(account.sessions) do
		if session ~= origin and session.resource then
			session.send(st.iq({ type = "set", from = bare, to = session.full_jid, id = "ombrix-setting-" .. os.time() })
				:add_child(settings_element(settings)));
		end
	end
end

module:hook("iq-get/self/ombrix:setting:usersetting", function(event)
	local origin, stanza = event.origin, event.stanza;
	origin.send(st.reply(stanza):add_child(settings_element(load(origin.username))));
	return true;
end);

module:hook("iq-set/self/ombrix:setting:usersetting", function(event)
	local origin, stanza = event.origin, event.stanza;
	local changes = {};
	for child in stanza.tags[1]:childtags() do
		if child.attr.xmlns ~= xmlns_setting or not known[child.name] then
			origin.send(st.error_reply(stanza, "modify", "bad-request", "unknown setting " .. child.name));
			return true;
		end
		local value = child.attr.value;
		if value ~= "true" and value ~= "false" then
			origin.send(st.error_reply(stanza, "modify", "bad-request", "setting values are true or false"));
			return true;
		end
		changes[child.name] = value;
	end
	local stored = store:get(origin.username) or {};
	for name, value in pairs(changes) do stored[name] = value; end
	local ok, err = store:set(origin.username, stored);
	if not ok then
		origin.send(st.error_reply(stanza, "wait", "internal-server-error", err));
		return true;
	end
	origin.send(st.reply(stanza));
	push(origin, load(origin.username));
	return true;
end);

-- Settings belong to their account alone.
module:hook("iq/bare/ombrix:setting:usersetting", function(event)
	if event.to_self then return; end
	event.origin.send(st.error_reply(event.stanza, "auth", "forbidden"));
	return true;
end);
