-- Quorv10.db, the default database shipped beside the program.
-- Each user's database is a file copy of it, so every table lives here; the
-- program itself never creates a table.
-- Column order matters where the program reads with "select *" or inserts
-- without a column list (marked ORDER FIXED): readers take columns by position.
-- Types: INTEGER for numbers, yyyymmdd dates and HHMM times (so ordering,
-- max() and comparisons with strftime() work on numbers); TEXT for everything
-- written between quotes, flags compared as '1'/'0' and date-time texts.

-- Configuration, serial numbers, dictionaries --------------------------------
CREATE TABLE tConfig2 (
  ID          TEXT PRIMARY KEY,
  value       TEXT,
  status      TEXT DEFAULT '1',          -- only '1' rows are read
  modifyTime  TEXT
);
CREATE TABLE tSerialNo (
  serialCode  INTEGER PRIMARY KEY,       -- 5000 alerts, 5010 element data, 5020 action data
  serialName  TEXT,
  serialNo    INTEGER,                   -- next number to hand out
  modifyTime  TEXT
);
CREATE TABLE tMaxDeletedRecNo (          -- ONE row: updated without a where clause
  articleDeletedRecNo       INTEGER DEFAULT 0,
  focusArticleDeletedRecNo  INTEGER DEFAULT 0,
  modifyTime                TEXT
);
CREATE TABLE tDictIndexID       (indexID TEXT PRIMARY KEY, indexName TEXT);
CREATE TABLE tDictWindDirection (windDirectionNo INTEGER PRIMARY KEY, windDirectionName TEXT);
CREATE TABLE tDictWeather       (weatherNo INTEGER PRIMARY KEY, weatherName TEXT);
CREATE TABLE tDictSolarTerms    (solarTermsNo INTEGER PRIMARY KEY, solarTermsName TEXT);
CREATE TABLE tWeatherAreaCode   (areaCodeNo INTEGER PRIMARY KEY, areaCodeName TEXT, areaName TEXT);
CREATE TABLE tAreaNo            (areaNo INTEGER PRIMARY KEY, note TEXT);

-- User profile ------------------------------------------------------------------
CREATE TABLE tUser (                     -- ORDER FIXED (27), ONE row
  userNo INTEGER, userID TEXT, userRegName TEXT, userPass TEXT,
  userRegDate INTEGER, deviceID TEXT, loginStatus TEXT, lastLoginTime TEXT,
  lastPluseTime TEXT, lastOpTime TEXT, ipAddr TEXT, areaNo INTEGER,
  areaCodeNo INTEGER, userType TEXT, userGroupNo INTEGER,
  userArticleGroupNo INTEGER, userMessNo INTEGER, experienceNo INTEGER,
  experienceRank INTEGER, pointNo INTEGER, pointRank INTEGER,
  assessPoint INTEGER, assessRank INTEGER, syncNo INTEGER,
  status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tUserExp (                  -- ORDER FIXED (26), ONE row
  userNo INTEGER, userID TEXT, userRegIpAddr TEXT, userPhone TEXT,
  userMobile TEXT, userEmail TEXT, userQQ TEXT, userMSN TEXT,
  userLinkAddr TEXT, userBlog TEXT, userMicroBlog TEXT, userName TEXT,
  userSex TEXT,                          -- digits 0/1/2, written quoted
  userBirthday INTEGER, userHeight INTEGER, userWeight INTEGER,
  userBust INTEGER, userWaistline INTEGER, userHip INTEGER,
  userDuties TEXT, userIndustry TEXT, userLaborIntensity INTEGER,
  syncNo INTEGER, status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tUserEnvironment (          -- layout of the environment record; not used yet
  userNo INTEGER, recNo INTEGER, recDate INTEGER, lastTime TEXT,
  thisTime TEXT, duration INTEGER, averageTemperature INTEGER,
  averageHumidity INTEGER, averageAirQuality INTEGER,
  averageAirQualityLevel INTEGER, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, recNo)
);

-- Parameters and health assessment -------------------------------------------------
CREATE TABLE tParameter (                -- ORDER FIXED for the first six
  parameterNo INTEGER PRIMARY KEY, parameterID TEXT, value TEXT,
  syncNo INTEGER, status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tUserAssessReport (         -- ORDER FIXED, exactly 28; written by the pages
  userNo INTEGER, assessDate INTEGER,
  assessPoint_all INTEGER, assessRank_all INTEGER, assessNote_all TEXT,
  assessPoint_type0 INTEGER, assessRank_type0 INTEGER,
  assessPoint_type1 INTEGER, assessRank_type1 INTEGER,
  assessPoint_type2 INTEGER, assessRank_type2 INTEGER,
  assessPoint_type3 INTEGER, assessRank_type3 INTEGER,
  assessPoint_type4 INTEGER, assessRank_type4 INTEGER,
  assessPoint_type5 INTEGER, assessRank_type5 INTEGER,
  assessPoint_type6 INTEGER, assessRank_type6 INTEGER,
  assessPoint_type7 INTEGER, assessRank_type7 INTEGER,
  assessPoint_type8 INTEGER, assessRank_type8 INTEGER,
  assessPoint_type9 INTEGER, assessRank_type9 INTEGER,
  syncNo INTEGER,                        -- the report's further integer, uploaded with it
  status TEXT, note TEXT
);
CREATE INDEX ixUserAssessReport_date ON tUserAssessReport (assessDate);

-- Message feeds: the key makes a repeated message number fail its insert ----------
CREATE TABLE tPublicMess (
  publicMessNo INTEGER PRIMARY KEY, publicMess TEXT, pubTime TEXT,
  validTime TEXT, operatorNo INTEGER, status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tUserMess (
  userNo INTEGER, userMessNo INTEGER, userMess TEXT, pubTime TEXT,
  validTime TEXT, operatorNo INTEGER, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, userMessNo)
);
CREATE TABLE tUserTypeMess (
  userType TEXT, userTypeMessNo INTEGER, userTypeMess TEXT, pubTime TEXT,
  validTime TEXT, operatorNo INTEGER, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userType, userTypeMessNo)
);
CREATE TABLE tUserGroupMess (
  userGroupNo INTEGER, userGroupMessNo INTEGER, userGroupMess TEXT,
  pubTime TEXT, validTime TEXT, operatorNo INTEGER, status TEXT, note TEXT,
  modifyTime TEXT,
  PRIMARY KEY (userGroupNo, userGroupMessNo)
);

-- Weather and life indices -------------------------------------------------------
CREATE TABLE tRealWeather (              -- ORDER FIXED, exactly 24, ONE row (never inserted)
  areaCodeNo INTEGER, solarCalendar INTEGER, lunarCalendar TEXT,
  solarTermsNo INTEGER, solarTermsName TEXT, pubTime TEXT,
  realMessNo INTEGER, gatherTime TEXT, realWeatherNo INTEGER,
  realWeatherName TEXT, realTemperature INTEGER, realMinTemperature INTEGER,
  realMaxTemperature INTEGER, realHumidity INTEGER, realMinHumidity INTEGER,
  realMaxHumidity INTEGER, realWindDirectionNo INTEGER,
  realWindDirectionName TEXT, realWindLevel INTEGER, realMinWindLevel INTEGER,
  realMaxWindLevel INTEGER, status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tWeatherForecast (          -- ORDER FIXED, exactly 22
  areaCodeNo INTEGER, solarCalendar INTEGER, dayNight TEXT,
  lunarCalendar TEXT, solarTermsNo INTEGER, solarTermsName TEXT,
  pubTime TEXT, forecastMessNo INTEGER, gatherTime TEXT, weatherNo INTEGER,
  weatherName TEXT, minTemperature INTEGER, maxTemperature INTEGER,
  minHumidity INTEGER, maxHumidity INTEGER, windDirectionNo INTEGER,
  windDirectionName TEXT, minWindLevel INTEGER, maxWindLevel INTEGER,
  status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (areaCodeNo, solarCalendar, dayNight)
);
CREATE TABLE tLiveIndex (                -- ORDER FIXED, exactly 11
  areaCodeNo INTEGER, solarCalendar INTEGER, pubTime TEXT,
  liveIndexMessNo INTEGER, gatherTime TEXT, indexID TEXT, indexLevel TEXT,
  indexNote TEXT, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (areaCodeNo, solarCalendar, indexID)
);

-- Health elements and their dictionaries -------------------------------------------
CREATE TABLE tHealthElementType (
  healthElementType INTEGER PRIMARY KEY, healthElementTypeName TEXT,
  healthElementTypeNote TEXT, dispNo INTEGER, nodeIconFileName TEXT,
  lastRecNo INTEGER, lastOpCode TEXT, status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tHealthElementSourceType (
  sourceNo INTEGER PRIMARY KEY, sourceName TEXT,
  sourceType TEXT,                       -- '3' USB device with a module, '1' computed
  devCompanyName TEXT, devProductsModel TEXT,
  interfaceName TEXT,                    -- module file in <binDir>/interface/
  vendorID INTEGER, productID INTEGER,   -- USB ids, -1 = none
  sourceNote TEXT, dispNo INTEGER, productIconFileName TEXT,
  companyIconFileName TEXT, lastRecNo INTEGER, lastOpCode TEXT,
  status TEXT, note TEXT, modifyTime TEXT
);
CREATE TABLE tHealthElementSource (
  healthElementID TEXT, sourceNo INTEGER, dispNo INTEGER, lastRecNo INTEGER,
  lastOpCode TEXT,                       -- also queried as lastopCode; names are case-blind
  status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (healthElementID, sourceNo)
);
CREATE TABLE tHealthElement (
  userNo INTEGER,                        -- -1 here; stamped after the first login
  healthElementID TEXT PRIMARY KEY,
  healthElementName TEXT, healthElementType INTEGER,
  valueNo INTEGER,                       -- -29999 = no value; real value x 10^decLen
  value TEXT, defaultValueNo INTEGER, minValue TEXT, maxValue TEXT,
  unitName TEXT, dataType TEXT, decLen INTEGER, charSet TEXT, ctrlType TEXT,
  ctrlShow TEXT, saveValue TEXT, basicFlag TEXT, defaultChangeCycle INTEGER,
  changeCycle INTEGER, alertFlag TEXT, defaultReDispCycle INTEGER,
  reDispCycle INTEGER, sourceNo INTEGER, updateFlag TEXT,
  valueTransFunc TEXT, elementManageFunc TEXT, refreshFunc TEXT,
  healthElementNote TEXT, valueGeneratedTime TEXT, valueValidity INTEGER,
  dispNo INTEGER, nodeIconFileName TEXT, lastRecNo INTEGER,
  lastOpCode TEXT, syncFlag TEXT, syncNo INTEGER, status TEXT, note TEXT,
  modifyTime TEXT
);
-- No key: a batch may go on with a failed (negative) serial number, and a key
-- would then fail the whole transaction.
CREATE TABLE tHealthElementDataList (
  userNo INTEGER, recNo INTEGER, recDate INTEGER, valueNo INTEGER,
  lastValueNo INTEGER, value TEXT, lastValue TEXT, unitName TEXT,
  healthElementID TEXT, healthElementName TEXT, healthElementType INTEGER,
  healthElementTypeName TEXT, sourceNo INTEGER, sourceName TEXT,
  valueGeneratedTime TEXT, lastRecNo INTEGER, lastOpCode TEXT,
  status TEXT, note TEXT, modifyTime TEXT
);
CREATE INDEX ixHealthElementDataList_elem ON tHealthElementDataList (healthElementID, recDate);
CREATE INDEX ixHealthElementDataList_rec  ON tHealthElementDataList (userNo, recNo);

-- User actions, health notes, function use, articles ------------------------------------
CREATE TABLE tUserActionDataList (
  userNo INTEGER, recNo INTEGER, recDate INTEGER, actionNo INTEGER,
  responseType TEXT, sourceType TEXT, lastOpCode TEXT,
  syncFlag TEXT DEFAULT '0',             -- '0' waits for upload, '1' acknowledged
  syncNo INTEGER, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, recNo)
);
CREATE TABLE tHealthNote (
  userNo INTEGER, noteNo INTEGER, noteDate INTEGER, title TEXT, content TEXT,
  sourceType TEXT, createTime TEXT, allowShareFlag TEXT, shareFlag TEXT,
  lastOpCode TEXT, syncFlag TEXT DEFAULT '0', syncNo INTEGER DEFAULT 0,
  status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, noteNo)
);
CREATE TABLE tFuncOp (                   -- ORDER FIXED: funcID, then the record's fields
  funcID TEXT PRIMARY KEY,
  funcName TEXT,
  totalCount INTEGER DEFAULT 0,          -- "totalCount + 1" stays NULL on NULL
  lastOpTime TEXT DEFAULT '2000-01-01 00:00:00',  -- must parse, or no use is ever uploaded
  lowerSecond INTEGER, opValueA1 INTEGER, opValueB1 INTEGER,   -- three bands of
  middleSecond INTEGER, opValueA2 INTEGER, opValueB2 INTEGER,  -- elapsed seconds, each
  upperSecond INTEGER, opValueA3 INTEGER, opValueB3 INTEGER,   -- with its (a, b) pair
  status TEXT DEFAULT '1', note TEXT, modifyTime TEXT
);
-- Article rows arrive as SQL from the HTTP service, which must use these columns.
CREATE TABLE tFocusArticle (
  focusArticleNo INTEGER PRIMARY KEY, articleType INTEGER,
  mainChannelNo INTEGER, subChannelNo INTEGER, title TEXT, simpleTitle TEXT,
  keyWords TEXT, articleSimpleBody TEXT, articleBody TEXT, sourceNote TEXT,
  sourceUrl TEXT, homePageUrl TEXT, pubTime TEXT, viewTimes INTEGER DEFAULT 0,
  status TEXT DEFAULT '1', note TEXT, modifyTime TEXT
);
CREATE TABLE tArticle (
  articleNo INTEGER PRIMARY KEY, articleType INTEGER,
  mainChannelNo INTEGER, subChannelNo INTEGER, title TEXT, simpleTitle TEXT,
  keyWords TEXT, articleSimpleBody TEXT, articleBody TEXT, sourceNote TEXT,
  sourceUrl TEXT, homePageUrl TEXT, pubTime TEXT, viewTimes INTEGER DEFAULT 0,
  collectionFlag TEXT DEFAULT '0',
  status TEXT DEFAULT '1', note TEXT, modifyTime TEXT
);

-- Device data --------------------------------------------------------------------
CREATE TABLE tDeviceDataList_122 (       -- pedometer days
  userNo INTEGER, recDate INTEGER, stepLen_cm INTEGER, step INTEGER,
  distance INTEGER, energy INTEGER, duration INTEGER, generatedTime TEXT,
  deviceID TEXT,                         -- 'VirtualData' marks demo rows
  status TEXT, note TEXT
);
CREATE INDEX ixDeviceDataList_122_date ON tDeviceDataList_122 (recDate);
CREATE TABLE tPedoTarget (               -- ONE row: updated without a where clause
  userNo INTEGER, dateDuration INTEGER, startDate INTEGER, targetStep INTEGER,
  targetDistance INTEGER, targetEnergy INTEGER, targetDuration INTEGER,
  periodStartDate INTEGER, periodEndDate INTEGER, periodStep INTEGER,
  periodDistance INTEGER, periodEnergy INTEGER, periodDuration INTEGER,
  periodDateDuration INTEGER, periodDatePercent INTEGER,
  periodStepPercent INTEGER, periodDistancePercent INTEGER,
  periodEnergyPercent INTEGER, periodDurationPercent INTEGER,
  userID TEXT, status TEXT, note TEXT
);
CREATE TABLE tDeviceDataList_1002 (      -- blood-pressure readings
  userNo INTEGER, recTime TEXT, systolic INTEGER, diastolic INTEGER,
  pulse INTEGER, msNumber INTEGER, msCount INTEGER, msSetCount INTEGER,
  memoFlag INTEGER, moveFlag INTEGER, fPulseFlag INTEGER, bpKbn INTEGER,
  serial INTEGER, userKbn INTEGER, outFlag INTEGER, generatedTime TEXT,
  deviceID TEXT, userID TEXT, summary TEXT, bpLevel INTEGER,
  bpAssessNote TEXT, recDate INTEGER, secondPassed INTEGER, status TEXT,
  note TEXT
);
CREATE INDEX ixDeviceDataList_1002_time ON tDeviceDataList_1002 (recTime);
CREATE INDEX ixDeviceDataList_1002_date ON tDeviceDataList_1002 (recDate);
CREATE TABLE tUserDevice (
  userNo INTEGER, sourceNo INTEGER, regTime TEXT, lastUseTime TEXT,
  useTimes INTEGER, deviceID TEXT,
  userID TEXT DEFAULT '', sourceName TEXT DEFAULT '',  -- the insert leaves them out
  status TEXT DEFAULT '1', note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, sourceNo)
);

-- Alerts ---------------------------------------------------------------------------
-- lastAlertTime must parse for recurring alerts, hence a date as default.
CREATE TABLE tAlertConfig (
  alertNo INTEGER PRIMARY KEY, alertType TEXT, alertLevel INTEGER,
  alertMode INTEGER, procMode INTEGER, execNo INTEGER, message TEXT,
  summary TEXT, duraMinute INTEGER,
  lastAlertTime TEXT DEFAULT '2000-01-01 00:00:00',
  lastResponseTime TEXT, lastResponseType TEXT, actionNo INTEGER,
  actionRuleFlag TEXT, startDate INTEGER, endDate INTEGER, cycleFlag TEXT,
  cycleType TEXT, cycleIntervalNum INTEGER, repeatFlag TEXT,
  repeatIntervalTime INTEGER, repeatNumber INTEGER, aheadTime INTEGER,
  aheadTimeType TEXT, alertMinute INTEGER, status TEXT, note TEXT,
  modifyTime TEXT
);
CREATE TABLE tAlertConfigDetail (
  alertNo INTEGER, no INTEGER, alertType TEXT, alertLevel INTEGER,
  alertMode INTEGER, procMode INTEGER, execNo INTEGER, message TEXT,
  summary TEXT, duraMinute INTEGER,
  lastAlertTime TEXT DEFAULT '2000-01-01 00:00:00',
  lastResponseTime TEXT, lastResponseType TEXT, actionNo INTEGER,
  actionRuleFlag TEXT, startDate INTEGER, endDate INTEGER, cycleFlag TEXT,
  cycleType TEXT, cycleIntervalNum INTEGER, repeatFlag TEXT,
  repeatIntervalTime INTEGER, repeatNumber INTEGER, aheadTime INTEGER,
  aheadTimeType TEXT,
  alertMinute INTEGER,                   -- HHMM of the "Time" condition
  status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (alertNo, no)
);
CREATE TABLE tAlertConfigItem (          -- ORDER FIXED for columns 1-9 (read by position)
  alertNo INTEGER,
  no INTEGER,
  itemName TEXT,                         -- condition: "Time", "Week", ...
  itemOperator TEXT,                     -- "<", "<=", "=", ">=", ">", "in"
  itemValue TEXT,                        -- operand
  duraMinute INTEGER,                    -- read in descending order within (alertNo, no)
  itemNo INTEGER,
  status TEXT,
  note TEXT,
  modifyTime TEXT
);
CREATE INDEX ixAlertConfigItem ON tAlertConfigItem (alertNo, no);
CREATE TABLE tAlertList (                -- ORDER FIXED, EXACTLY 14: inserted without a column list
  alertDate INTEGER, alertNo INTEGER, no INTEGER, alertType TEXT,
  message TEXT, summary TEXT, duraMinute INTEGER, alertMinute INTEGER,
  lastAlertTime TEXT, actionNo INTEGER, actionRuleFlag TEXT, status TEXT,
  note TEXT, modifyTime TEXT
);                                       -- no key: a recurring alert adds several rows a day
CREATE INDEX ixAlertList_date ON tAlertList (alertDate, alertType);
CREATE TABLE tAlertExpired (             -- always deleted before it is inserted
  alertDate INTEGER, alertNo INTEGER, no INTEGER, alertType TEXT,
  actionNo INTEGER, message TEXT, alertMinute INTEGER, actionRuleFlag TEXT,
  status TEXT, note TEXT,
  PRIMARY KEY (alertDate, alertNo, no)
);

-- Computer use and test reminders ------------------------------------------------------
CREATE TABLE tUserOpData (               -- one row per (userNo, recDate)
  userNo INTEGER, recDate INTEGER, computerUseSecond INTEGER,
  mskbUseSecond INTEGER, browerUseSecond INTEGER,
  appName TEXT,  appUseSecond INTEGER,  appUsePercent INTEGER,  appType INTEGER,
  appName2 TEXT, appUseSecond2 INTEGER, appUsePercent2 INTEGER, appType2 INTEGER,
  appName3 TEXT, appUseSecond3 INTEGER, appUsePercent3 INTEGER, appType3 INTEGER,
  appName4 TEXT, appUseSecond4 INTEGER, appUsePercent4 INTEGER, appType4 INTEGER,
  appName5 TEXT, appUseSecond5 INTEGER, appUsePercent5 INTEGER, appType5 INTEGER,
  appName6 TEXT, appUseSecond6 INTEGER, appUsePercent6 INTEGER, appType6 INTEGER,
  syncNo INTEGER, status TEXT, note TEXT, modifyTime TEXT,
  PRIMARY KEY (userNo, recDate)
);
CREATE TABLE tAppType (
  appType INTEGER PRIMARY KEY, appTypeName TEXT, ratio INTEGER,
  status TEXT DEFAULT '1',               -- the insert leaves it out; readers want '1'
  note TEXT, modifyTime TEXT
);
CREATE TABLE tApplication (
  appFile TEXT PRIMARY KEY,              -- lower-cased file name
  appPath TEXT, appName TEXT, appType INTEGER, note TEXT, modifyTime TEXT
);
CREATE TABLE tTesting (                  -- times must parse, or the item is skipped
  testingItemID TEXT PRIMARY KEY, testingItemName TEXT,
  lastTestingTime TEXT DEFAULT '2000-01-01 00:00:00',
  testingCycle INTEGER, alertFlag TEXT, duraMinute INTEGER,
  lastAlertTime TEXT DEFAULT '2000-01-01 00:00:00',
  alertResponseFunc TEXT, modifyTime TEXT
);
