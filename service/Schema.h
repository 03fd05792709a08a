#pragma once

namespace service {

class Connection;

// Creates the tables that are missing. Safe when several processes start on one folder.
void createSchema(Connection &connection);

} // namespace service
