-- The update service's back end: the product's releases and get_latest_version(), the function
-- behind the setup's version query (POST .../rpc/get_latest_version). Run by a superuser with
-- psql -v ON_ERROR_STOP=1 -f backend/schema.sql; running it again keeps the data and changes
-- nothing.
--
-- Roles (cluster-wide):
--   ostrel_owner          owns the schemas, the table and the functions; never logs in
--   anon                  what an anonymous caller becomes: may execute get_latest_version()
--                         and get_update_delta() and read nothing else
--   ostrel_authenticator  the login of the HTTP front (gateway): no rights of its own, it
--                         switches to the role of a verified token (anon)
--   ostrel_publisher      the login of release/ostrel-release: adds releases and withdraws them

SET client_min_messages = warning;
BEGIN;

DO $$
DECLARE
    wanted text[][] := ARRAY[['ostrel_owner', 'NOLOGIN'], ['anon', 'NOLOGIN'],
                             ['ostrel_authenticator', 'LOGIN NOINHERIT'], ['ostrel_publisher', 'LOGIN']];
BEGIN
    FOR i IN 1 .. array_length(wanted, 1) LOOP
        IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = wanted[i][1]) THEN
            EXECUTE format('CREATE ROLE %I %s', wanted[i][1], wanted[i][2]);
        END IF;
    END LOOP;
    EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO ostrel_authenticator, ostrel_publisher', current_database());
END
$$;
GRANT anon TO ostrel_authenticator;

-- ostrel: the data, out of the callers' reach; api: what the gateway exposes.
CREATE SCHEMA IF NOT EXISTS ostrel AUTHORIZATION ostrel_owner;
CREATE SCHEMA IF NOT EXISTS api AUTHORIZATION ostrel_owner;
SET ROLE ostrel_owner;
ALTER DEFAULT PRIVILEGES REVOKE EXECUTE ON FUNCTIONS FROM PUBLIC;

-- One row per published release; a release is withdrawn, never deleted, so its number stays
-- taken and its files stay in the uninstaller's list of later releases.
CREATE TABLE IF NOT EXISTS ostrel.releases (
    -- MAJOR.MINOR.PATCH without leading zeros: the three numbers the setup compares.
    version text PRIMARY KEY
        CHECK (version ~ '^(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})$'),
    major integer NOT NULL GENERATED ALWAYS AS (split_part(version, '.', 1)::integer) STORED,
    minor integer NOT NULL GENERATED ALWAYS AS (split_part(version, '.', 2)::integer) STORED,
    patch integer NOT NULL GENERATED ALWAYS AS (split_part(version, '.', 3)::integer) STORED,
    download_url text NOT NULL CHECK (download_url ~ '^https://[^[:space:]]+$'),
    release_notes text NOT NULL DEFAULT '',
    is_required boolean NOT NULL DEFAULT false,
    size_bytes bigint NOT NULL CHECK (size_bytes >= 0),
    sha256 text NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
    -- The publisher's signature over the release and the time it expires: both or neither.
    signature text,
    signature_expires timestamptz,
    -- The product's files in this release's package ("/"-separated, OstrelFiles.txt and
    -- version.txt left out).
    installed_files text[] NOT NULL DEFAULT '{}',
    -- The package's OstrelManifest.txt: each installed file's kind, path, size and SHA-256.
    manifest text NOT NULL DEFAULT '',
    published_at timestamptz NOT NULL DEFAULT now(),
    withdrawn boolean NOT NULL DEFAULT false,
    CHECK ((signature IS NULL) = (signature_expires IS NULL))
);
ALTER TABLE ostrel.releases ADD COLUMN IF NOT EXISTS manifest text NOT NULL DEFAULT '';
CREATE INDEX IF NOT EXISTS releases_newest ON ostrel.releases (major DESC, minor DESC, patch DESC)
    WHERE NOT withdrawn;

-- A delta from an earlier release to a later one: a ZIP of the files that are new or whose bytes
-- differ, the later release's manifest and the list of files to remove. Withdrawn with either
-- of its releases.
CREATE TABLE IF NOT EXISTS ostrel.deltas (
    version text NOT NULL REFERENCES ostrel.releases (version),
    from_version text NOT NULL REFERENCES ostrel.releases (version),
    download_url text NOT NULL CHECK (download_url ~ '^https://[^[:space:]]+$'),
    size_bytes bigint NOT NULL CHECK (size_bytes >= 0),
    sha256 text NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
    -- The SHA-256 of the later release's OstrelManifest.txt, which the delta carries.
    manifest_sha256 text NOT NULL CHECK (manifest_sha256 ~ '^[0-9a-f]{64}$'),
    signature text,
    signature_expires timestamptz,
    published_at timestamptz NOT NULL DEFAULT now(),
    withdrawn boolean NOT NULL DEFAULT false,
    PRIMARY KEY (version, from_version),
    CHECK (version <> from_version),
    CHECK ((signature IS NULL) = (signature_expires IS NULL))
);

-- A size in bytes as the answer's file_size_mb: MiB rounded to two decimals, half to even, in
-- the shortest form with at least one decimal (85.3, 2.0, 0.04), as the publish tool has
-- always written it.
CREATE OR REPLACE FUNCTION ostrel.mebibytes(bytes bigint) RETURNS numeric
LANGUAGE sql IMMUTABLE STRICT AS $$
    SELECT CASE WHEN scale(mb) = 0 THEN round(mb, 1) ELSE mb END
    FROM (SELECT trim_scale((q + CASE WHEN 2 * r > 1048576 OR (2 * r = 1048576 AND q % 2 = 1) THEN 1 ELSE 0 END)
                            / 100.0) AS mb
          FROM (SELECT div(bytes * 100, 1048576) AS q, mod(bytes * 100, 1048576) AS r) AS parts) AS rounded
$$;

-- The answer of the version query: a JSON array holding the newest release that is not
-- withdrawn (by its numbers: 1.10.0 after 1.9.0), or an empty array. Its keys in this order,
-- without blanks: version, download_url, release_notes, is_required, file_size_mb, sha256, then
-- size_bytes, signature and signature_expires only when the release is signed (the signature
-- covers the size in bytes, which file_size_mb rounds).
CREATE OR REPLACE FUNCTION api.get_latest_version() RETURNS json
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
SET timezone = 'UTC'
AS $$
    SELECT coalesce(json_agg(json_strip_nulls(row_to_json(latest))), '[]')
    FROM (SELECT version, download_url, release_notes, is_required, ostrel.mebibytes(size_bytes) AS file_size_mb,
                 sha256, CASE WHEN signature IS NOT NULL THEN size_bytes END AS size_bytes, signature,
                 signature_expires
          FROM ostrel.releases
          WHERE NOT withdrawn
          ORDER BY major DESC, minor DESC, patch DESC
          LIMIT 1) AS latest
$$;

-- The answer of the delta query (POST .../rpc/get_update_delta with {"from_version":"1.0.0"}): a
-- JSON array holding the delta from that version to the release the version query offers, or
-- an empty array when there is none or either end is withdrawn. Its keys in this order:
-- version, from_version, download_url, sha256, size_bytes, manifest_sha256, then signature and
-- signature_expires when the delta is signed.
CREATE OR REPLACE FUNCTION api.get_update_delta(from_version text) RETURNS json
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
SET timezone = 'UTC'
AS $$
    SELECT coalesce(json_agg(json_strip_nulls(row_to_json(delta))), '[]')
    FROM (SELECT d.version, d.from_version, d.download_url, d.sha256, d.size_bytes, d.manifest_sha256, d.signature,
                 d.signature_expires
          FROM ostrel.deltas AS d
          JOIN (SELECT version FROM ostrel.releases
                WHERE NOT withdrawn
                ORDER BY major DESC, minor DESC, patch DESC
                LIMIT 1) AS latest ON latest.version = d.version
          WHERE d.from_version = $1 AND NOT d.withdrawn) AS delta
$$;

REVOKE ALL ON ALL FUNCTIONS IN SCHEMA ostrel, api FROM PUBLIC;
GRANT USAGE ON SCHEMA api TO anon;
GRANT EXECUTE ON FUNCTION api.get_latest_version(), api.get_update_delta(text) TO anon;
GRANT USAGE ON SCHEMA ostrel TO ostrel_publisher;
GRANT SELECT, INSERT ON ostrel.releases TO ostrel_publisher;
GRANT UPDATE (withdrawn) ON ostrel.releases TO ostrel_publisher;
GRANT SELECT, INSERT ON ostrel.deltas TO ostrel_publisher;
GRANT UPDATE (withdrawn) ON ostrel.deltas TO ostrel_publisher;

RESET ROLE;
COMMIT;
