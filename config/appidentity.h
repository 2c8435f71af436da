#pragma once

// Sets the organisation, application name and version that every settings object and the
// credential directory are derived from. Called once, right after the application object exists.
void setApplicationIdentity();
