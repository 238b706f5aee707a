-- Gives the stations of a hub a login of their own instead of SYSDBA. Run once, as SYSDBA or the
-- owner of the table, after paquetes.sql (Firebird 3 or later):
--   isql-fb -user SYSDBA -password '...' -input /usr/share/orvanedb/station-role.sql 'dbhost:/srv/firebird/hub.fdb'
--
-- A station only inserts its rows: it never reads them back, and its insert takes `id` from the
-- column's own identity, which needs no grant of its own. It cannot read, change, delete, alter or
-- drop what is there.
CREATE ROLE ORVANEDB_STATION;
GRANT INSERT ON paquetes TO ROLE ORVANEDB_STATION;
COMMIT;

-- Then one user per station, each with a password of its own, granted the role (user names are
-- kept upper-case unless quoted):
--
--   CREATE USER conveyor1 PASSWORD 'a long random password';
--   GRANT ORVANEDB_STATION TO USER conveyor1;
--   COMMIT;
--
-- and on that station a file /etc/orvanedb/db-credentials, owned by root and mode 0600, that holds
-- the user on its first line, the password on its second and the role on its third:
--
--   CONVEYOR1
--   a long random password
--   ORVANEDB_STATION
--
-- Firebird 3 applies a role only when the login names it, hence the third line. From Firebird 4 on,
--   GRANT DEFAULT ORVANEDB_STATION TO USER conveyor1;
-- makes it the user's default role, and the third line may be left out.
--
-- A table made before `id_lectura` existed cannot be given it by a station with this login: the
-- station says so once and stores its rows without it. SYSDBA adds the column and its unique index
-- once for every station:
--
--   ALTER TABLE paquetes ADD id_lectura VARCHAR(40) CHARACTER SET ASCII;
--   CREATE UNIQUE INDEX paquetes_lectura ON paquetes (id_lectura);
--   COMMIT;
