-- Offers no session step after binding, as servers following the current standard may do:
-- the session feature is taken out of the stream features that other modules put in.

local xmlns_session = "urn:ietf:params:xml:ns:xmpp-session";

module:hook("stream-features", function(event)
	event.features:maptags(function(tag)
		if tag.name == "session" and tag.attr.xmlns == xmlns_session then return nil; end
		return tag;
	end);
end, -100);
