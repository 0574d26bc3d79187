-- Off-the-record settings ("ombrix:nosave") as the service keeps them: per account, a value
-- "enabled" or "disabled" for each contact. A set is stored, answered, and pushed to every
-- resource of the account with the resource that made the change as "source".
local st = require "util.stanza";
local jid_util = require "util.jid";

local xmlns = "ombrix:nosave";
local store = module:open_store("ombrix_nosave");
local push_counter = 0;

module:add_feature(xmlns);

local function push(username, contact, value, source)
	local bare = username .. "@" .. module.host;
	local user = prosody.bare_sessions[bare];
	if not user then return; end
	for _, session in pairs(user.sessions) do
		if session.full_jid then
			push_counter = push_counter + 1;
			session.send(st.iq({ type = "set", to = session.full_jid, from = bare,
					id = "nosave-push-" .. push_counter })
				:tag("query", { xmlns = xmlns })
				:tag("item", { jid = contact, value = value, source = source }));
		end
	end
end

module:hook("iq-get/self/" .. xmlns .. ":query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local settings = store:get(origin.username) or {};
	local contacts = {};
	for contact in pairs(settings) do contacts[#contacts + 1] = contact; end
	table.sort(contacts);
	local reply = st.reply(stanza):tag("query", { xmlns = xmlns });
	for _, contact in ipairs(contacts) do
		reply:tag("item", { jid = contact, value = settings[contact] }):up();
	end
	origin.send(reply);
	return true;
end);

module:hook("iq-set/self/" .. xmlns .. ":query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local query = stanza.tags[1];
	local changes = {};
	for item in query:childtags("item", xmlns) do
		local contact = jid_util.prep(item.attr.jid or "");
		local value = item.attr.value;
		if not contact or jid_util.bare(contact) ~= contact then
			origin.send(st.error_reply(stanza, "modify", "jid-malformed", "item without a bare jid"));
			return true;
		end
		if value ~= "enabled" and value ~= "disabled" then
			origin.send(st.error_reply(stanza, "modify", "bad-request", "value must be enabled or disabled"));
			return true;
		end
		changes[#changes + 1] = { contact = contact, value = value };
	end
	if #changes == 0 then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "no items"));
		return true;
	end
	local settings = store:get(origin.username) or {};
	for _, change in ipairs(changes) do settings[change.contact] = change.value; end
	local ok, err = store:set(origin.username, settings);
	if not ok then
		origin.send(st.error_reply(stanza, "wait", "internal-server-error", err));
		return true;
	end
	origin.send(st.reply(stanza));
	-- The server names the resource itself; a client cannot speak for another one.
	for _, change in ipairs(changes) do
		push(origin.username, change.contact, change.value, origin.full_jid);
	end
	return true;
end);
