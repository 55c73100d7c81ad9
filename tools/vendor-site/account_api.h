#pragma once

#include "site_routes.h"

namespace orv::site {

// The vendor's REST API for the accounts of the scene ("accounts": [{"email",
// "code", "products": [names]}]).

// POST /orv/auth/oauth/token: the OAuth 2.0 client-credentials grant, a
// form with client_id (the e-mail), client_secret (the code) and
// grant_type. Tokens live "tokenLifetimeMs" of the scene (an hour unless
// set); unknown credentials get 401 with a JSON error.
void IssueToken(const SiteContext& context, const httplib::Request& req, httplib::Response& res);

// GET /orv/api/setup/user/products with "Authorization: Bearer <token>":
// {"value": [{"name", "id", "orv_id", "latest_version": {"version"}}]} for
// the token's account, from the catalogue; a product the catalogue lacks
// has only its name. A missing, unknown or expired token gets 401.
void AccountProducts(const SiteContext& context, const httplib::Request& req, httplib::Response& res);

}  // namespace orv::site
